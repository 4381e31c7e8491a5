#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "update/release_info.h"

// Returns normally only when the file is exactly the installer that the manifest describes:
// size, SHA-256, pinned publisher signature, product name, description and version.
void verifyInstaller(const ReleaseInfo& manifest, const std::wstring& installerPath);

// The checks that verifyInstaller makes after validating the manifest, one by one, so that the
// release verification tool judges a release with the same code. verifyInstaller stops at the
// first check that fails; the tool makes every check it can. Each needs a valid manifest.

// What a check asked for and what the file showed, as UTF-8 texts for a report.
struct InstallerFinding {
  bool passed = false;
  std::string expected;
  std::string found;
};

// The downloader's messages, in check order; the three version-resource values share the last.
inline constexpr std::string_view kInstallerSizeMismatch = "インストーラのサイズが一致しません。";
inline constexpr std::string_view kInstallerDigestMismatch =
    "インストーラのハッシュが一致しません。";
inline constexpr std::string_view kInstallerSignatureRejected =
    "インストーラの発行元署名を確認できません。";
inline constexpr std::string_view kInstallerIdentityMismatch =
    "インストーラの製品またはバージョンが一致しません。";

// The size in bytes of the file at the path, or nothing when the path names no regular file (a
// missing path or a directory). Any other reason why the path cannot be examined (access denied,
// ...) is a file-system failure naming "status".
std::optional<std::uint64_t> installerFileSize(const std::wstring& path);

// The manifest's digest in lower case, as the file's digest is compared with it.
std::string expectedInstallerDigest(const ReleaseInfo& manifest);

InstallerFinding checkInstallerSize(const ReleaseInfo& manifest, const std::wstring& path);
InstallerFinding checkInstallerDigest(const ReleaseInfo& manifest, const std::wstring& path);

// A version-resource value that the installer must carry, compared exactly.
struct RequiredVersionValue {
  std::wstring name;
  std::wstring expected;
};

// ProductName, FileDescription and ProductVersion (the manifest's latestVersion), in the order
// in which they are compared.
std::vector<RequiredVersionValue> requiredInstallerValues(const ReleaseInfo& manifest);

// The value as the file carries it (wide: it need not be valid UTF-16) and whether it matches.
struct VersionValueFinding {
  bool passed = false;
  std::wstring found;
};
VersionValueFinding checkInstallerValue(const std::wstring& path,
                                        const RequiredVersionValue& value);
