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

std::string lowerCase(const std::string& text) {
  std::wstring wide = toUtf16(text);
  for (wchar_t& c : wide) c = static_cast<wchar_t>(std::towlower(c));
  return toUtf8(wide);
}

std::string bytesText(std::uint64_t size) { return std::to_string(size) + " bytes"; }

}  // namespace

std::optional<std::uint64_t> installerFileSize(const std::wstring& path) {
  // A missing path or a directory is simply not the installer.
  if (!fs::is_regular_file(path)) return std::nullopt;
  return static_cast<std::uint64_t>(fs::file_size(path));
}

std::string expectedInstallerDigest(const ReleaseInfo& manifest) {
  return lowerCase(stringField(manifest, "sha256", ""));
}

InstallerFinding checkInstallerSize(const ReleaseInfo& manifest, const std::wstring& path) {
  const auto expected = manifest.at("sizeBytes").get<std::uint64_t>();
  const std::optional<std::uint64_t> size = installerFileSize(path);
  return {size == expected, bytesText(expected), size ? bytesText(*size) : "no regular file"};
}

InstallerFinding checkInstallerDigest(const ReleaseInfo& manifest, const std::wstring& path) {
  const std::string expected = expectedInstallerDigest(manifest);
  const std::string digest = sha256File(path);
  return {digest == expected, expected, digest};
}

std::vector<RequiredVersionValue> requiredInstallerValues(const ReleaseInfo& manifest) {
  return {{L"ProductName", L"Orvanti"},
          {L"FileDescription", L"Orvanti Setup"},
          {L"ProductVersion", toUtf16(stringField(manifest, "latestVersion", ""))}};
}

VersionValueFinding checkInstallerValue(const std::wstring& path,
                                        const RequiredVersionValue& value) {
  std::wstring found = readVersionString(path, value.name);
  const bool passed = found == value.expected;
  return {passed, std::move(found)};
}

void verifyInstaller(const ReleaseInfo& manifest, const std::wstring& installerPath) {
  // Validated before, but checked again here so that the fields below can be trusted locally.
  validateReleaseInfo(manifest);

  // The digest is computed only for a file of the right size, the signature examined only for
  // the right content, and the version resource read only from a file of the pinned publisher.
  ensure(checkInstallerSize(manifest, installerPath).passed, kInstallerSizeMismatch);
  ensure(checkInstallerDigest(manifest, installerPath).passed, kInstallerDigestMismatch);
  ensure(verifyPublisherSignature(installerPath), kInstallerSignatureRejected);

  // Stops at the first value that differs.
  bool identityMatches = true;
  for (const RequiredVersionValue& value : requiredInstallerValues(manifest)) {
    if (!checkInstallerValue(installerPath, value).passed) {
      identityMatches = false;
      break;
    }
  }
  ensure(identityMatches, kInstallerIdentityMismatch);
}
