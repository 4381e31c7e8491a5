// The product of the sample release. It has nothing to show: started, it writes the fixture
// record (command line and working directory) to the file named by ORVANTI_FIXTURE_PRODUCT_RECORD
// when that is set, so that a test or the demo can see that it was opened and how, and ends.
#include <windows.h>

#include "common/dll_search.h"
#include "tests/install/fixture_record.h"

// Before every constructor: the stack protector's set-up loads a cryptographic provider's DLL.
[[gnu::constructor(101)]] static void restrictDllSearchFirst() { restrictDllSearchToSystem(); }

int wmain() {
  fixture::writeRecord(L"ORVANTI_FIXTURE_PRODUCT_RECORD", "");
  return 0;
}
