#include "common/text.h"

#include <windows.h>

#include <algorithm>
#include <limits>

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
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, nullptr,
                                       0, nullptr, nullptr);
  ensure(size > 0, "Invalid Unicode text");
  std::string result(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), size, nullptr, nullptr);
  return result;
}

std::wstring toUtf16(std::string_view text) {
  if (text.empty()) return {};
  const int length = checkedLength(text.size(), "Invalid UTF-8 text");
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
  ensure(size > 0, "Invalid UTF-8 text");
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), size);
  return result;
}

std::wstring toUtf16Lenient(std::string_view text) {
  // Without MB_ERR_INVALID_CHARS the platform replaces malformed sequences with U+FFFD.
  const int length = static_cast<int>(std::min<std::size_t>(text.size(), std::numeric_limits<int>::max()));
  if (length == 0) return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return L"?";
  std::wstring result(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), size);
  return result;
}
