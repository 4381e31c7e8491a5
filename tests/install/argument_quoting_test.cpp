// quoteArgument against its expected texts and the documented splitting rules. Platform-free: also
// built natively (argument_quoting_platform_test.cpp asks CommandLineToArgvW itself).
#include "install/argument_quoting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "tests/install/argument_quoting_cases.h"
#include "tests/support/command_line_split.h"

namespace {

TEST(QuoteArgument, GivesTheExpectedTextThatTheDocumentedRulesSplitBack) {
  for (const QuotingCase& c : quotingCases()) {
    SCOPED_TRACE(c.name);
    const std::wstring quoted = quoteArgument(c.text);
    EXPECT_EQ(toUtf8(quoted), toUtf8(c.quoted));
    const std::vector<std::wstring> arguments =
        testsupport::splitCommandLine(L"program.exe " + quoted);
    ASSERT_EQ(arguments.size(), 2u);
    EXPECT_EQ(toUtf8(arguments[1]), toUtf8(c.text));
  }
}

TEST(QuoteArgument, KeepsEmbeddedNulAsText) {
  const std::wstring text(L"a\0b", 3);
  EXPECT_EQ(quoteArgument(text), std::wstring(L"\"a\0b\"", 5));
}

}  // namespace
