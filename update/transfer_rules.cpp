#include "update/transfer_rules.h"

#include <stdexcept>
#include <string>

bool requireModernTls(const std::function<bool(std::uint32_t)>& setSecureProtocols) {
  return setSecureProtocols(kTls12AndNewer) || setSecureProtocols(kTls12);
}

std::uint64_t parseContentLength(std::wstring_view text) {
  // The standard library's own failure texts differ between implementations (libstdc++ says just
  // "stoull"); the program reports the same texts wherever it is built.
  try {
    static_assert(sizeof(unsigned long long) == sizeof(std::uint64_t));
    return std::stoull(std::wstring(text), nullptr, 10);
  } catch (const std::invalid_argument&) {
    throw std::invalid_argument("invalid stoull argument");
  } catch (const std::out_of_range&) {
    throw std::out_of_range("stoull argument out of range");
  }
}
