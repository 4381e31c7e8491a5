#include "common/text.h"

#include <algorithm>
#include <limits>

#include "common/text_platform.h"
#include "common/user_error.h"

namespace {

int checkedLength(std::size_t length, std::string_view message) {
  ensure(length <= static_cast<std::size_t>(std::numeric_limits<int>::max()), message);
  return static_cast<int>(length);
}

}  // namespace

std::string toUtf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = checkedLength(text.size(), "Invalid Unicode text");
  const int size = utf16ToUtf8(text.data(), length, nullptr, 0, /* strict */ true);
  ensure(size > 0, "Invalid Unicode text");
  std::string result(static_cast<std::size_t>(size), '\0');
  utf16ToUtf8(text.data(), length, result.data(), size, /* strict */ false);
  return result;
}

std::wstring toUtf16(std::string_view text) {
  if (text.empty()) return {};
  const int length = checkedLength(text.size(), "Invalid UTF-8 text");
  const int size = utf8ToUtf16(text.data(), length, nullptr, 0, /* strict */ true);
  ensure(size > 0, "Invalid UTF-8 text");
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  utf8ToUtf16(text.data(), length, result.data(), size, /* strict */ false);
  return result;
}

std::wstring toUtf16Lenient(std::string_view text) {
  // Without the strict flag the platform replaces malformed sequences with U+FFFD.
  const int length =
      static_cast<int>(std::min<std::size_t>(text.size(), std::numeric_limits<int>::max()));
  if (length == 0) return {};
  const int size = utf8ToUtf16(text.data(), length, nullptr, 0, /* strict */ false);
  if (size <= 0) return L"?";
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  utf8ToUtf16(text.data(), length, result.data(), size, /* strict */ false);
  return result;
}
