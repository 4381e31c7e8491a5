#include "tests/support/fixture_programs.h"

#include "tests/support/test_support.h"

namespace testsupport {

std::wstring fixtureProgram(const std::wstring& name) {
  return binDirectory() + L"\\fixtures\\" + name + L".exe";
}

}  // namespace testsupport
