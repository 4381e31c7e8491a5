// The manifest body as the update check reads it: the same strict parse, then the manifest rules.
// Only the expected failures may escape (the JSON library's parse error and its range error 406 for
// a number it cannot hold; the rules' UserError with
// the message of the first broken rule, judged here independently; the library's type error for an
// "available" that is not a boolean). A body that passes must meet every rule as checked here.
#include <cstdint>
#include <string>

#include "common/user_error.h"
#include "native/fuzz/fuzz_support.h"
#include "update/release_info.h"

using fuzzsupport::check;
using fuzzsupport::fail;
using nlohmann::json;

namespace {

const std::string kNotAvailable = "Orvantiのインストーラは現在配布されていません。";
const std::string kOtherProduct = "別製品の配布情報は使用できません。";
const std::string kBadVersionText = "配布バージョンが不正です。";
const std::string kInvalidVersion = "Invalid version";
const std::string kBadDigest = "配布ファイルのハッシュ情報が不正です。";
const std::string kBadSize = "配布サイズが不正です。";
const std::string kSizeOutOfRange = "配布サイズが上限を超えています。";
const std::string kBadPath = "許可されていないダウンロード先です。";
const std::string kTypeError = "(type error)";
const std::string kPasses = "";

const json* member(const json& manifest, const char* key) {
  const auto found = manifest.find(key);
  return found == manifest.end() ? nullptr : &*found;
}

std::string text(const json& manifest, const char* key) {
  const json* value = member(manifest, key);
  return value != nullptr && value->is_string() ? value->get<std::string>() : "";
}

// Four dot-separated parts of one to five ASCII digits, each at most 65535.
bool isFourPartVersion(const std::string& version, bool& threeDots) {
  std::size_t dots = 0;
  for (const char c : version) dots += c == '.';
  threeDots = dots == 3;
  std::size_t partLength = 0;
  unsigned long value = 0;
  for (std::size_t i = 0; i <= version.size(); ++i) {
    if (i == version.size() || version[i] == '.') {
      if (partLength == 0 || partLength > 5 || value > 65535) return false;
      partLength = 0;
      value = 0;
    } else if (version[i] >= '0' && version[i] <= '9') {
      ++partLength;
      value = value * 10 + static_cast<unsigned long>(version[i] - '0');
    } else {
      return false;
    }
  }
  return threeDots;
}

// The first broken rule, in the order the update check applies them.
std::string firstBrokenRule(const json& manifest) {
  if (!manifest.is_object()) return kNotAvailable;
  const json* available = member(manifest, "available");
  if (available != nullptr && !available->is_boolean()) return kTypeError;
  if (available == nullptr || !available->get<bool>()) return kNotAvailable;
  if (text(manifest, "product") != "Orvanti") return kOtherProduct;
  bool threeDots = false;
  const bool versionOk = isFourPartVersion(text(manifest, "latestVersion"), threeDots);
  if (!threeDots) return kBadVersionText;
  if (!versionOk) return kInvalidVersion;
  const std::string digest = text(manifest, "sha256");
  if (digest.size() != 64) return kBadDigest;
  for (const char c : digest) {
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return kBadDigest;
  }
  const json* size = member(manifest, "sizeBytes");
  if (size == nullptr || !(size->is_number_integer() || size->is_number_unsigned())) {
    return kBadSize;
  }
  const bool inRange =
      size->is_number_unsigned()
          ? size->get<std::uint64_t>() >= 1 && size->get<std::uint64_t>() <= 268435456
          : size->get<std::int64_t>() >= 1 && size->get<std::int64_t>() <= 268435456;
  if (!inRange) return kSizeOutOfRange;
  if (text(manifest, "downloadPath") != "/tov/v2/client/client-updates/orvanti/download") {
    return kBadPath;
  }
  return kPasses;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  ReleaseInfo manifest;
  try {
    manifest = parseReleaseInfo(body);
  } catch (const json::parse_error&) {
    return 0;
  } catch (const json::out_of_range& error) {
    // A number beyond the double range (1e999) is valid JSON that the library refuses to read,
    // with its own failure 406. The update check fails with it like with a parse error.
    check(error.id == 406, "an unexpected range error", error.what());
    return 0;
  }
  const std::string expected = firstBrokenRule(manifest);
  std::string outcome = kPasses;
  try {
    validateReleaseInfo(manifest);
  } catch (const UserError& error) {
    outcome = fuzzsupport::withoutCode(error.what());
    check(!outcome.empty(), "a failure text without its code", error.what());
  } catch (const json::type_error& error) {
    check(error.id == 302, "an unexpected type error", error.what());
    outcome = kTypeError;
  }
  check(outcome == expected, "outcome differs from the rules",
        "got \"" + outcome + "\", expected \"" + expected + "\" for " + manifest.dump());
  return 0;
}
