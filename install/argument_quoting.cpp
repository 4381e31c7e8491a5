#include "install/argument_quoting.h"

// Backslashes are literal unless they precede a quotation mark: a run of them is written doubled
// in front of an escaped quotation mark and in front of the closing one, and unchanged elsewhere.
std::wstring quoteArgument(std::wstring_view text) {
  std::wstring quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back(L'"');
  std::size_t pendingBackslashes = 0;
  for (const wchar_t c : text) {
    if (c == L'\\') {
      ++pendingBackslashes;
    } else if (c == L'"') {
      quoted.append(2 * pendingBackslashes + 1, L'\\');
      quoted.push_back(c);
      pendingBackslashes = 0;
    } else {
      quoted.append(pendingBackslashes, L'\\');
      quoted.push_back(c);
      pendingBackslashes = 0;
    }
  }
  quoted.append(2 * pendingBackslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}
