// A stand-in for the installed product, for tests and demonstrations. When started it writes the
// record of fixture_record.h (command line, working directory) to the file named by the inherited
// environment variable ORVANTI_FIXTURE_PRODUCT_RECORD, if set, and ends with exit code 0.
#include <windows.h>

#include "fixture_record.h"

int wmain() {
  fixture::writeRecord(L"ORVANTI_FIXTURE_PRODUCT_RECORD", "");
  return 0;
}
