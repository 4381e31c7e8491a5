#include "install/installer_verification.h"

#include <cwctype>
#include <filesystem>
#include <system_error>

#include "common/sha256.h"
#include "common/text.h"
#include "common/user_error.h"
#include "common/version_resource.h"
#include "install/publisher_signature.h"

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kSizeMismatch = "インストーラのサイズが一致しません。";
constexpr std::string_view kDigestMismatch = "インストーラのハッシュが一致しません。";
constexpr std::string_view kSignatureRejected = "インストーラの発行元署名を確認できません。";
constexpr std::string_view kIdentityMismatch = "インストーラの製品またはバージョンが一致しません。";

// A missing path or a directory is simply not the installer; any other reason why the path
// cannot be examined (access denied, ...) is a file-system failure naming "status".
bool hasSize(const fs::path& path, std::uint64_t expected) {
  if (!fs::is_regular_file(path)) return false;
  return static_cast<std::uint64_t>(fs::file_size(path)) == expected;
}

std::string lowerCase(const std::string& text) {
  std::wstring wide = toUtf16(text);
  for (wchar_t& c : wide) c = static_cast<wchar_t>(std::towlower(c));
  return toUtf8(wide);
}

}  // namespace

void verifyInstaller(const ReleaseInfo& manifest, const std::wstring& installerPath) {
  // Validated before, but checked again here so that the fields below can be trusted locally.
  validateReleaseInfo(manifest);

  ensure(hasSize(fs::path(installerPath), manifest.at("sizeBytes").get<std::uint64_t>()),
         kSizeMismatch);

  const std::string expectedDigest = lowerCase(stringField(manifest, "sha256", ""));
  ensure(sha256File(installerPath) == expectedDigest, kDigestMismatch);

  ensure(verifyPublisherSignature(installerPath), kSignatureRejected);

  const bool identityMatches =
      readVersionString(installerPath, L"ProductName") == L"Orvanti" &&
      readVersionString(installerPath, L"FileDescription") == L"Orvanti Setup" &&
      readVersionString(installerPath, L"ProductVersion") ==
          toUtf16(stringField(manifest, "latestVersion", ""));
  ensure(identityMatches, kIdentityMismatch);
}
