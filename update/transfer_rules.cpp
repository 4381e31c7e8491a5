#include "update/transfer_rules.h"

#include <algorithm>
#include <cwctype>
#include <stdexcept>
#include <string>

bool requireModernTls(const std::function<bool(std::uint32_t)>& setSecureProtocols) {
  return setSecureProtocols(kTls12AndNewer) || setSecureProtocols(kTls12);
}

std::uint64_t parseContentLength(std::wstring_view text) {
  const std::wstring value(text);
  // A length has no sign, but the standard conversion takes one and negates the number modulo 2^64:
  // "-1" would read as the largest value and "-18446744073709551615" as 1. After the white space
  // that the conversion skips (the same classification), a digit must come first.
  const auto first = std::find_if_not(value.begin(), value.end(), [](wchar_t c) {
    return std::iswspace(static_cast<std::wint_t>(c)) != 0;
  });
  if (first == value.end() || *first < L'0' || *first > L'9') {
    throw std::invalid_argument("invalid stoull argument");
  }
  // The standard library's own failure texts differ between implementations (libstdc++ says just
  // "stoull"); the program reports the same texts wherever it is built.
  try {
    static_assert(sizeof(unsigned long long) == sizeof(std::uint64_t));
    return std::stoull(value, nullptr, 10);
  } catch (const std::invalid_argument&) {
    throw std::invalid_argument("invalid stoull argument");
  } catch (const std::out_of_range&) {
    throw std::out_of_range("stoull argument out of range");
  }
}
