#pragma once

#include <string>

namespace testsupport {

// A fixture program built by orvanti_add_fixture_program (tests/fixtures/fixture-program.cmake):
// bin\fixtures\<name>.exe beside the test programs.
std::wstring fixtureProgram(const std::wstring& name);

}  // namespace testsupport
