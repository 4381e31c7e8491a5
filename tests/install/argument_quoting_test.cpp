#include "install/argument_quoting.h"

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_resource.h"

namespace {

// The platform's own splitting is the judge: the quoted text, after a program name, must come
// back as exactly one argument equal to the text.
std::vector<std::wstring> splitByPlatform(const std::wstring& commandLine) {
  int count = 0;
  UniqueLocalMemory<LPWSTR*> argv(CommandLineToArgvW(commandLine.c_str(), &count));
  EXPECT_TRUE(argv.valid());
  std::vector<std::wstring> arguments;
  for (int i = 0; argv.valid() && i < count; ++i) arguments.emplace_back(argv.get()[i]);
  return arguments;
}

TEST(QuoteArgument, RoundTripsThroughCommandLineToArgvW) {
  struct Case {
    const char* name;
    std::wstring text;
    std::wstring quoted;
  };
  const std::vector<Case> cases = {
      {"empty", L"", LR"("")"},
      {"plain", L"setup.exe", LR"("setup.exe")"},
      {"blanks and single backslashes",
       LR"(C:\Users\A B\AppData\Local\Temp\orvanti-1\Orvanti Setup.exe)",
       LR"("C:\Users\A B\AppData\Local\Temp\orvanti-1\Orvanti Setup.exe")"},
      {"trailing backslash", LR"(C:\dir\)", LR"("C:\dir\\")"},
      {"two trailing backslashes", LR"(C:\dir\\)", LR"("C:\dir\\\\")"},
      {"quotation mark", LR"(say "hi")", LR"("say \"hi\"")"},
      {"backslash before quotation mark", LR"(a\"b)", LR"("a\\\"b")"},
      {"two backslashes before quotation mark", LR"(a\\"b)", LR"("a\\\\\"b")"},
      {"only a quotation mark", LR"(")", LR"("\"")"},
      {"only a backslash", LR"(\)", LR"("\\")"},
      {"tab and blanks", L"a\tb  c ", L"\"a\tb  c \""},
      {"backslashes inside", LR"(\\server\share\x)", LR"("\\server\share\x")"},
      {"non-ASCII", L"C:\\オルバンティ\\set up.exe", L"\"C:\\オルバンティ\\set up.exe\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring quoted = quoteArgument(c.text);
    EXPECT_EQ(toUtf8(quoted), toUtf8(c.quoted));
    const std::vector<std::wstring> arguments = splitByPlatform(L"program.exe " + quoted);
    ASSERT_EQ(arguments.size(), 2u);
    EXPECT_EQ(toUtf8(arguments[1]), toUtf8(c.text));
  }
}

TEST(QuoteArgument, KeepsEmbeddedNulAsText) {
  const std::wstring text(L"a\0b", 3);
  EXPECT_EQ(quoteArgument(text), std::wstring(L"\"a\0b\"", 5));
}

}  // namespace
