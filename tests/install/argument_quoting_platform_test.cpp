// The platform's own splitting is the judge: CommandLineToArgvW against quoteArgument, and against
// the documented-rules splitter that the platform-free test and the quoting fuzz target use.
#include "install/argument_quoting.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_resource.h"
#include "tests/install/argument_quoting_cases.h"
#include "tests/support/command_line_split.h"

namespace {

std::vector<std::wstring> splitByPlatform(const std::wstring& commandLine) {
  int count = 0;
  UniqueLocalMemory<LPWSTR*> argv(CommandLineToArgvW(commandLine.c_str(), &count));
  EXPECT_TRUE(argv.valid());
  std::vector<std::wstring> arguments;
  for (int i = 0; argv.valid() && i < count; ++i) arguments.emplace_back(argv.get()[i]);
  return arguments;
}

// The quoted text, after a program name, must come back as exactly one argument equal to the text.
TEST(QuoteArgument, RoundTripsThroughCommandLineToArgvW) {
  for (const QuotingCase& c : quotingCases()) {
    SCOPED_TRACE(c.name);
    const std::wstring quoted = quoteArgument(c.text);
    EXPECT_EQ(toUtf8(quoted), toUtf8(c.quoted));
    const std::vector<std::wstring> arguments = splitByPlatform(L"program.exe " + quoted);
    ASSERT_EQ(arguments.size(), 2u);
    EXPECT_EQ(toUtf8(arguments[1]), toUtf8(c.text));
  }
}

std::vector<std::string> utf8(const std::vector<std::wstring>& texts) {
  std::vector<std::string> result;
  for (const std::wstring& text : texts) result.push_back(toUtf8(text));
  return result;
}

// The oracle of the platform-free test and of the fuzz target agrees with the platform. Two
// quotation marks in a row inside a quoted part are left out: there the 2008 C runtime rule (one
// literal mark, the part goes on) and CommandLineToArgvW part ways, and quoteArgument never
// writes them.
TEST(CommandLineSplit, AgreesWithCommandLineToArgvW) {
  std::vector<std::wstring> lines = {
      LR"(program.exe)",
      LR"(program.exe a b  c)",
      L"program.exe \ta\t b \t",
      LR"(program.exe "a b" c)",
      LR"(program.exe a"b c"d e)",
      LR"(program.exe a\b c\\d)",
      LR"(program.exe a\\b d"e f"g h)",
      LR"(program.exe a\\\"b c d)",
      LR"(program.exe a\\\\"b c" d e)",
      LR"(program.exe \" \\" \\\" \\\\")",
      LR"(program.exe "\" \\" \\\" \\\\")",
      LR"(program.exe "" a "")",
      LR"(program.exe "unterminated \" quote)",
      LR"(program.exe trailing\)",
      LR"("C:\Program Files\p.exe" x)",
      LR"(C:\dir\p.exe "y z")",
  };
  for (const QuotingCase& c : quotingCases()) lines.push_back(L"program.exe " + c.quoted);
  for (const std::wstring& line : lines) {
    SCOPED_TRACE(toUtf8(line));
    EXPECT_EQ(utf8(testsupport::splitCommandLine(line)), utf8(splitByPlatform(line)));
  }
}

}  // namespace
