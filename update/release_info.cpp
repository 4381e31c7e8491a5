#include "update/release_info.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "common/user_error.h"
#include "common/version.h"

namespace {

constexpr std::string_view kProductName = "Orvanti";
constexpr std::string_view kDownloadPath = "/tov/v2/client/client-updates/orvanti/download";
constexpr std::size_t kDigestLength = 64;
constexpr std::string_view kHexDigits = "0123456789abcdefABCDEF";
constexpr std::int64_t kMaxInstallerSize = 268435456;  // 256 MiB

bool isHexDigest(const std::string& text) {
  return text.size() == kDigestLength && std::all_of(text.begin(), text.end(), [](char c) {
           return kHexDigits.find(c) != std::string_view::npos;
         });
}

}  // namespace

ReleaseInfo parseReleaseInfo(const std::string& body) {
  return nlohmann::json::parse(body, /* cb */ nullptr, /* allow_exceptions */ true,
                               /* ignore_comments */ false);
}

void validateReleaseInfo(const ReleaseInfo& manifest) {
  // value() with a default treats a missing member as false but throws the library's type
  // error for a member that is not a boolean: a malformed flag is not silently "off".
  ensure(manifest.is_object() && manifest.value("available", false),
         "Orvantiのインストーラは現在配布されていません。");

  ensure(stringField(manifest, "product", "") == kProductName,
         "別製品の配布情報は使用できません。");

  const std::string version = stringField(manifest, "latestVersion", "");
  ensure(std::count(version.begin(), version.end(), '.') == 3, "配布バージョンが不正です。");
  parseVersion(version.data(), version.size());

  ensure(isHexDigest(stringField(manifest, "sha256", "")),
         "配布ファイルのハッシュ情報が不正です。");

  // Only the parser's integer kinds count: 1024.0 and 1e3 are floating-point numbers.
  const auto size = manifest.find("sizeBytes");
  ensure(size != manifest.end() && size->is_number_integer(), "配布サイズが不正です。");
  // An unsigned value above the signed range reads as negative here and is refused.
  const auto sizeBytes = size->get<std::int64_t>();
  ensure(sizeBytes > 0 && sizeBytes <= kMaxInstallerSize, "配布サイズが上限を超えています。");

  ensure(stringField(manifest, "downloadPath", "") == kDownloadPath,
         "許可されていないダウンロード先です。");
}

std::string stringField(const nlohmann::json& value, const char* key, const std::string& fallback) {
  if (!value.is_object()) return fallback;
  const auto member = value.find(key);
  if (member == value.end() || !member->is_string()) return fallback;
  return member->get<std::string>();
}
