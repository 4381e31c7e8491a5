// UTF-8 <-> UTF-16 for the native build, with the contract of the Windows conversions
// (common/text_platform.h). The Windows build calls MultiByteToWideChar and WideCharToMultiByte;
// this one exists only so that the platform-free code and its tests can run here. A wchar_t holds
// one UTF-16 code unit, as on Windows: a value above 0xFFFF is malformed.
#include <cerrno>
#include <climits>
#include <cstdint>

#include "common/text_platform.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kMalformed = 0xFFFFFFFF;

// Reads one scalar value at text[index] and moves past it; for a malformed sequence moves past its
// longest valid beginning (at least one byte) and returns kMalformed.
char32_t decodeUtf8(const unsigned char* text, int length, int& index) {
  const unsigned char lead = text[index++];
  if (lead < 0x80) return lead;
  int following = 0;
  char32_t value = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    following = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    following = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    following = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return kMalformed;
  }
  for (int k = 0; k < following; ++k) {
    if (index >= length || text[index] < low || text[index] > high) return kMalformed;
    value = (value << 6) | (text[index++] & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return value;
}

// Collects output units; with a null buffer only counts them.
template <typename Unit>
struct Output {
  Unit* buffer;
  int size;
  int count = 0;
  bool full = false;

  void put(Unit unit) {
    if (count == INT_MAX) {
      full = true;
      return;
    }
    if (buffer != nullptr) {
      if (count >= size) {
        full = true;
        return;
      }
      buffer[count] = unit;
    }
    ++count;
  }
};

int finish(bool failed, bool full, int count) {
  if (failed) {
    errno = EILSEQ;
    return 0;
  }
  if (full) {
    errno = ENOBUFS;
    return 0;
  }
  return count;
}

}  // namespace

int utf8ToUtf16(const char* text, int length, wchar_t* output, int outputSize, bool strict) {
  if (text == nullptr || length <= 0) return finish(false, false, 0);
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  Output<wchar_t> out{output, outputSize};
  for (int index = 0; index < length && !out.full;) {
    char32_t value = decodeUtf8(bytes, length, index);
    if (value == kMalformed) {
      if (strict) return finish(true, false, 0);
      value = kReplacement;
    }
    if (value >= 0x10000) {
      value -= 0x10000;
      out.put(static_cast<wchar_t>(0xD800 + (value >> 10)));
      out.put(static_cast<wchar_t>(0xDC00 + (value & 0x3FF)));
    } else {
      out.put(static_cast<wchar_t>(value));
    }
  }
  return finish(false, out.full, out.count);
}

int utf16ToUtf8(const wchar_t* text, int length, char* output, int outputSize, bool strict) {
  if (text == nullptr || length <= 0) return finish(false, false, 0);
  Output<char> out{output, outputSize};
  for (int index = 0; index < length && !out.full; ++index) {
    const auto unit = static_cast<std::uint32_t>(text[index]);
    char32_t value = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && index + 1 < length &&
        static_cast<std::uint32_t>(text[index + 1]) >= 0xDC00 &&
        static_cast<std::uint32_t>(text[index + 1]) <= 0xDFFF) {
      value =
          0x10000 + ((unit - 0xD800) << 10) + (static_cast<std::uint32_t>(text[++index]) - 0xDC00);
    } else if ((unit >= 0xD800 && unit <= 0xDFFF) || unit > 0xFFFF) {
      if (strict) return finish(true, false, 0);
      value = kReplacement;
    }
    if (value < 0x80) {
      out.put(static_cast<char>(value));
    } else if (value < 0x800) {
      out.put(static_cast<char>(0xC0 | (value >> 6)));
      out.put(static_cast<char>(0x80 | (value & 0x3F)));
    } else if (value < 0x10000) {
      out.put(static_cast<char>(0xE0 | (value >> 12)));
      out.put(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
      out.put(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
      out.put(static_cast<char>(0xF0 | (value >> 18)));
      out.put(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
      out.put(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
      out.put(static_cast<char>(0x80 | (value & 0x3F)));
    }
  }
  return finish(false, out.full, out.count);
}
