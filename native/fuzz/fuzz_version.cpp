// The version text: up to three texts, one per line. Each is parsed and judged against the grammar
// written out here (one to four parts of one to five ASCII digits, each at most 65535); the texts
// that parse must be ordered as their numbers are, in a total order (antisymmetric, transitive).
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/user_error.h"
#include "common/version.h"
#include "native/fuzz/fuzz_support.h"

using fuzzsupport::check;
using fuzzsupport::fail;

namespace {

using Parts = std::array<unsigned long, 4>;

std::optional<Parts> byGrammar(std::string_view text) {
  Parts parts{};
  std::size_t count = 0;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '.') ++end;
    const std::string_view part = text.substr(start, end - start);
    if (count == 4 || part.empty() || part.size() > 5) return std::nullopt;
    unsigned long value = 0;
    for (const char c : part) {
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > 65535) return std::nullopt;
    parts[count++] = value;
    if (end == text.size()) return parts;
    start = end + 1;
  }
}

Parts asParts(const VersionNumber& v) { return {v.major, v.minor, v.build, v.revision}; }

bool refusedAsInvalid(const auto& action) {
  try {
    action();
  } catch (const UserError& error) {
    check(fuzzsupport::withoutCode(error.what()) == "Invalid version", "unexpected failure text",
          error.what());
    return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> texts;
  std::size_t start = 0;
  while (texts.size() < 2) {
    const std::size_t end = input.find('\n', start);
    if (end == std::string_view::npos) break;
    texts.emplace_back(input.substr(start, end - start));
    start = end + 1;
  }
  texts.emplace_back(input.substr(start));

  std::vector<std::string> valid;
  std::vector<Parts> numbers;
  for (const std::string& text : texts) {
    const std::optional<Parts> expected = byGrammar(text);
    VersionNumber parsed;
    const bool refused = refusedAsInvalid([&] { parsed = parseVersion(text.data(), text.size()); });
    check(refused == !expected,
          refused ? "a text of the grammar refused" : "a text outside the grammar accepted", text);
    if (refused) continue;
    check(asParts(parsed) == *expected, "parts differ from the text", text);
    valid.push_back(text);
    numbers.push_back(*expected);
    // Against a text that does not parse, the comparison fails, whichever side it is on.
    check(refusedAsInvalid([&] { isNewerVersion(text, "1.x"); }),
          "compared with an invalid version");
    check(refusedAsInvalid([&] { isNewerVersion("", text); }), "compared with an empty version");
  }

  const std::size_t n = valid.size();
  std::vector<std::vector<bool>> newer(n, std::vector<bool>(n));
  for (std::size_t a = 0; a < n; ++a) {
    for (std::size_t b = 0; b < n; ++b) {
      newer[a][b] = isNewerVersion(valid[a], valid[b]);
      check(newer[a][b] == (numbers[a] > numbers[b]), "order differs from the numbers",
            valid[a] + " vs " + valid[b]);
    }
  }
  for (std::size_t a = 0; a < n; ++a) {
    check(!newer[a][a], "a version newer than itself", valid[a]);
    for (std::size_t b = 0; b < n; ++b) {
      check(!(newer[a][b] && newer[b][a]), "not antisymmetric", valid[a] + " vs " + valid[b]);
      // Neither newer: the same version, so both compare alike with every third one.
      const bool same = !newer[a][b] && !newer[b][a];
      for (std::size_t c = 0; c < n; ++c) {
        if (newer[a][b] && newer[b][c])
          check(newer[a][c], "not transitive", valid[a] + " > " + valid[b] + " > " + valid[c]);
        if (same)
          check(newer[a][c] == newer[b][c] && newer[c][a] == newer[c][b],
                "equal versions ordered differently");
      }
    }
  }
  return 0;
}
