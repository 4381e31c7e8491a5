#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

// Decisions of a transfer that do not need the platform to be made or tested.

// Secure-protocol sets, in the platform's bit values.
inline constexpr std::uint32_t kTls12 = 0x00000800;
inline constexpr std::uint32_t kTls13 = 0x00002000;
inline constexpr std::uint32_t kTls12AndNewer = kTls12 | kTls13;

// Asks for TLS 1.2 and 1.3 and, only if that set is refused, for TLS 1.2 alone (a system that
// does not know TLS 1.3 refuses the whole set). Returns whether one of them was accepted; after a
// false answer the thread's last-error value is that of the second attempt.
bool requireModernTls(const std::function<bool(std::uint32_t protocols)>& setSecureProtocols);

// The Content-Length header text as a number, by the standard decimal conversion (leading white
// space skipped, the digits up to the first other character taken). Fails with
// std::invalid_argument "invalid stoull argument" when no digit follows the white space (a sign
// is no digit) and with std::out_of_range "stoull argument out of range" when the number does not
// fit in 64 bits.
std::uint64_t parseContentLength(std::wstring_view text);
