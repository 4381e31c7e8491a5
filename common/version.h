#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A four-part version (major, minor, build, revision), each part at most 65535.
struct VersionNumber {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t build = 0;
  std::uint32_t revision = 0;

  friend auto operator<=>(const VersionNumber&, const VersionNumber&) = default;
};

// Parses "1" to "1.2.3.4" under the strict grammar; fails with UserError "Invalid version".
VersionNumber parseVersion(const char* text, std::size_t length);

// True when version a is strictly newer than b. Parses b first, then a.
bool isNewerVersion(std::string_view a, std::string_view b);
