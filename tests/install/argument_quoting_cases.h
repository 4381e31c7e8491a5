#pragma once

#include <string>
#include <vector>

// Texts and their expected quoting, shared by the platform-free test and the one that asks
// CommandLineToArgvW.
struct QuotingCase {
  const char* name;
  std::wstring text;
  std::wstring quoted;
};

inline const std::vector<QuotingCase>& quotingCases() {
  static const std::vector<QuotingCase> cases = {
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
  return cases;
}
