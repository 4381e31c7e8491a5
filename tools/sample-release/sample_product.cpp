// The product of the sample release. It has nothing to show: started, it writes the fixture
// record (command line and working directory) to the file named by ORVANTI_FIXTURE_PRODUCT_RECORD
// when that is set, so that a test or the demo can see that it was opened and how, and ends.
#include <windows.h>

#include "tests/install/fixture_record.h"

int wmain() {
  fixture::writeRecord(L"ORVANTI_FIXTURE_PRODUCT_RECORD", "");
  return 0;
}
