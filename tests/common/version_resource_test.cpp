#include "common/version_resource.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/fixture_programs.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::fixtureProgram;

struct ValueCase {
  const char* test;
  std::wstring name;
  std::wstring expected;
  friend void PrintTo(const ValueCase& c, std::ostream* os) { *os << c.test; }
};

class VersionStringTest : public testing::TestWithParam<ValueCase> {};

// The fixture's values are set in tests/fixtures/CMakeLists.txt (version-strings).
TEST_P(VersionStringTest, ReadsFirstTranslation) {
  EXPECT_EQ(readVersionString(fixtureProgram(L"version-strings"), GetParam().name),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, VersionStringTest,
    testing::Values(ValueCase{"ProductName", L"ProductName", L"Orvanti"},
                    ValueCase{"FileDescription", L"FileDescription", L"Orvanti Setup"},
                    ValueCase{"ProductVersion", L"ProductVersion", L"1.2.3.4"},
                    ValueCase{"CustomValue", L"Implementation", L"Win32"},
                    ValueCase{"Missing", L"CompanyName", L""},
                    ValueCase{"TrailingBlanksRemoved", L"TrailingBlanks", L"2.0.0.1"},
                    ValueCase{"TrailingTabRemoved", L"TrailingTab", L"Orvanti"},
                    ValueCase{"TrailingMixRemoved", L"TrailingMix", L"Setup"},
                    ValueCase{"LeadingBlankKept", L"LeadingBlank", L" Win32"},
                    ValueCase{"InnerBlankKept", L"InnerBlank", L"Orvanti Setup"},
                    ValueCase{"OnlyBlanksIsEmpty", L"OnlyBlanks", L""},
                    ValueCase{"Japanese", L"Japanese", L"オルバンティ"},
                    // Held by the second translation only: never looked at.
                    ValueCase{"SecondTranslationOnly", L"OnlySecond", L""},
                    // A name too long for the 256-character sub-block path.
                    ValueCase{"NameTooLong", std::wstring(300, L'N'), L""}),
    [](const testing::TestParamInfo<ValueCase>& info) { return std::string(info.param.test); });

TEST(ReadVersionString, FilesWithoutValuesGiveEmpty) {
  testsupport::TempFolder folder;
  const std::wstring text = folder.file(L"plain.txt");
  testsupport::writeFile(text, "not a program");
  for (const std::wstring& path :
       {fixtureProgram(L"no-version-resource"), folder.file(L"missing.exe"), text}) {
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    EXPECT_EQ(readVersionString(path, L"ProductName"), L"");
  }
}

}  // namespace
