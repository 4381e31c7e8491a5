#include "common/version.h"

#include <array>

#include "common/user_error.h"

namespace {

constexpr const char* kInvalidVersion = "Invalid version";
constexpr std::size_t kMaxPartLength = 5;
constexpr std::uint32_t kMaxPartValue = 0xFFFF;

VersionNumber parseVersionText(std::string_view text) {
  return parseVersion(text.data(), text.size());
}

}  // namespace

VersionNumber parseVersion(const char* text, std::size_t length) {
  ensure(length != 0, kInvalidVersion);

  std::array<std::uint32_t, 4> parts{};
  std::size_t count = 0;
  std::string_view rest(text, length);
  for (;;) {
    ensure(count < parts.size(), kInvalidVersion);
    const std::size_t dot = rest.find('.');
    const std::string_view part = rest.substr(0, dot);
    // The length limit comes first so that a long run of digits cannot overflow the value.
    ensure(!part.empty() && part.size() <= kMaxPartLength, kInvalidVersion);
    std::uint32_t value = 0;
    for (const char c : part) {
      ensure(c >= '0' && c <= '9', kInvalidVersion);
      value = value * 10 + static_cast<std::uint32_t>(c - '0');
      ensure(value <= kMaxPartValue, kInvalidVersion);
    }
    parts[count++] = value;
    if (dot == std::string_view::npos) break;
    rest.remove_prefix(dot + 1);
    ensure(!rest.empty(), kInvalidVersion);  // a trailing dot
  }
  return VersionNumber{parts[0], parts[1], parts[2], parts[3]};
}

bool isNewerVersion(std::string_view a, std::string_view b) {
  // b (the installed version) is parsed first, so its fault is the one reported.
  const VersionNumber versionB = parseVersionText(b);
  const VersionNumber versionA = parseVersionText(a);
  return versionA > versionB;
}
