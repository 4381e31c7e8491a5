#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Splits a command line by the documented rules of the Windows C runtime (2008 and later), as an
// oracle that owes nothing to the code under test. The program name (first argument) ends at the
// first blank or tab outside quotation marks; quotation marks in it only group and are dropped.
// For the arguments after it:
// - blanks and tabs outside quotation marks separate arguments;
// - backslashes are literal unless a quotation mark follows them: then each pair gives one
//   backslash, and an odd one left over makes the quotation mark literal;
// - any other quotation mark opens or closes a quoted part, except that inside a quoted part two
//   in a row give one literal quotation mark and the part goes on.
// The line is taken whole (a real command line ends at its first NUL).
inline std::vector<std::wstring> splitCommandLine(std::wstring_view line) {
  const auto isBlank = [](wchar_t c) { return c == L' ' || c == L'\t'; };
  std::vector<std::wstring> arguments;
  std::size_t i = 0;
  const std::size_t n = line.size();

  std::wstring program;
  for (bool quoted = false; i < n && (quoted || !isBlank(line[i])); ++i) {
    if (line[i] == L'"')
      quoted = !quoted;
    else
      program.push_back(line[i]);
  }
  arguments.push_back(program);

  for (;;) {
    while (i < n && isBlank(line[i])) ++i;
    if (i == n) break;
    std::wstring argument;
    bool quoted = false;
    while (i < n && (quoted || !isBlank(line[i]))) {
      if (line[i] == L'\\') {
        std::size_t end = i;
        while (end < n && line[end] == L'\\') ++end;
        const std::size_t count = end - i;
        if (end < n && line[end] == L'"') {
          argument.append(count / 2, L'\\');
          if (count % 2 == 1) {
            argument.push_back(L'"');
            ++end;
          }
        } else {
          argument.append(count, L'\\');
        }
        i = end;
      } else if (line[i] == L'"') {
        if (quoted && i + 1 < n && line[i + 1] == L'"') {
          argument.push_back(L'"');
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument.push_back(line[i++]);
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

}  // namespace testsupport
