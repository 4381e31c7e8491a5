// The Content-Length conversion, on any text of UTF-16LE units. Judged by the rule written out
// here: after leading white space (as the C library classifies it) come one or more ASCII digits,
// read up to the first other character; their number must fit in 64 bits. Any other text fails
// with invalid_argument "invalid stoull argument", a number too large with out_of_range
// "stoull argument out of range"; nothing else may escape.
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "native/fuzz/fuzz_support.h"
#include "update/transfer_rules.h"

using fuzzsupport::check;
using fuzzsupport::fail;

namespace {

enum class Outcome { Number, Invalid, OutOfRange };

Outcome byRule(const std::wstring& text, std::uint64_t& value) {
  std::size_t i = 0;
  while (i < text.size() && std::iswspace(static_cast<wint_t>(text[i])) != 0) ++i;
  if (i == text.size() || text[i] < L'0' || text[i] > L'9') return Outcome::Invalid;
  value = 0;
  bool tooLarge = false;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - L'0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) tooLarge = true;
    value = value * 10 + digit;
  }
  return tooLarge ? Outcome::OutOfRange : Outcome::Number;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = fuzzsupport::utf16Units(data, size);
  std::uint64_t expectedValue = 0;
  const Outcome expected = byRule(text, expectedValue);
  const std::string shown = fuzzsupport::hexUnits(text);
  try {
    const std::uint64_t value = parseContentLength(text);
    check(expected == Outcome::Number, "a number read from a text the rule refuses", shown);
    check(value == expectedValue, "a different number", shown);
  } catch (const std::invalid_argument& failure) {
    check(expected == Outcome::Invalid, "refused as invalid", shown);
    check(std::strcmp(failure.what(), "invalid stoull argument") == 0, "invalid: other text",
          failure.what());
  } catch (const std::out_of_range& failure) {
    check(expected == Outcome::OutOfRange, "refused as out of range", shown);
    check(std::strcmp(failure.what(), "stoull argument out of range") == 0,
          "out of range: other text", failure.what());
  }
  return 0;
}
