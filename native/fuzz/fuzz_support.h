#pragma once

// Helpers shared by the fuzz targets: a finding aborts with a reason, inputs become wide texts.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzzsupport {

// A property does not hold: report it and abort, which libFuzzer records as a crash.
[[noreturn]] inline void fail(const char* what, const std::string& detail = "") {
  std::fprintf(stderr, "fuzz finding: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
  std::abort();
}

inline void check(bool condition, const char* what, const std::string& detail = "") {
  if (!condition) fail(what, detail);
}

// Bytes as UTF-16 code units, little-endian, an odd last byte dropped: every unit value, including
// unpaired surrogates, can occur, as in a Windows text.
inline std::wstring utf16Units(const std::uint8_t* data, std::size_t size) {
  std::wstring text;
  text.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    text.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
  }
  return text;
}

// For messages: the code units in hexadecimal.
inline std::string hexUnits(std::wstring_view text) {
  std::string out;
  char unit[8];
  for (const wchar_t c : text) {
    std::snprintf(unit, sizeof(unit), "%04X ", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

// Well-formed UTF-8 as the Unicode standard defines it (no overlong forms, no surrogates, nothing
// above U+10FFFF), checked from the table of well-formed byte sequences.
inline bool isWellFormedUtf8(std::string_view text) {
  std::size_t i = 0;
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const auto within = [&](std::size_t at, unsigned low, unsigned high) {
    return at < text.size() && byte(at) >= low && byte(at) <= high;
  };
  while (i < text.size()) {
    const unsigned b = byte(i);
    if (b <= 0x7F) {
      i += 1;
    } else if (b >= 0xC2 && b <= 0xDF && within(i + 1, 0x80, 0xBF)) {
      i += 2;
    } else if (b == 0xE0 && within(i + 1, 0xA0, 0xBF) && within(i + 2, 0x80, 0xBF)) {
      i += 3;
    } else if (((b >= 0xE1 && b <= 0xEC) || b == 0xEE || b == 0xEF) && within(i + 1, 0x80, 0xBF) &&
               within(i + 2, 0x80, 0xBF)) {
      i += 3;
    } else if (b == 0xED && within(i + 1, 0x80, 0x9F) && within(i + 2, 0x80, 0xBF)) {
      i += 3;
    } else if (b == 0xF0 && within(i + 1, 0x90, 0xBF) && within(i + 2, 0x80, 0xBF) &&
               within(i + 3, 0x80, 0xBF)) {
      i += 4;
    } else if (b >= 0xF1 && b <= 0xF3 && within(i + 1, 0x80, 0xBF) && within(i + 2, 0x80, 0xBF) &&
               within(i + 3, 0x80, 0xBF)) {
      i += 4;
    } else if (b == 0xF4 && within(i + 1, 0x80, 0x8F) && within(i + 2, 0x80, 0xBF) &&
               within(i + 3, 0x80, 0xBF)) {
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

// The message of a UserError without its " (<code>)" ending; empty when the ending is missing.
inline std::string withoutCode(const std::string& text) {
  const std::size_t open = text.rfind(" (");
  if (open == std::string::npos || text.size() < open + 4 || text.back() != ')') return "";
  for (std::size_t i = open + 2; i + 1 < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return "";
  }
  return text.substr(0, open);
}

}  // namespace fuzzsupport
