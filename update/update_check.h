#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/unique_resource.h"
#include "update/release_info.h"

struct UpdateCheckResult {
  std::wstring installerPath;  // empty when the installed product is current
  ReleaseInfo manifest;        // declared last so that it is released first
};

using StatusCallback = std::function<void(std::wstring)>;
using CancelQuery = std::function<bool()>;

// Fails with "ダウンロードを中止しました。" when the (possibly empty) query answers true.
void throwIfCancelled(const CancelQuery& isCancelled);

// Reports a status text (if there is a callback), then checks for cancellation.
void postStatus(const StatusCallback& onStatus, const CancelQuery& isCancelled,
                const std::wstring& text);

// Fetches the manifest, decides, and when needed downloads and verifies the installer.
UpdateCheckResult checkAndDownload(const std::wstring& baseUrl, const std::wstring& downloadFolder,
                                   const StatusCallback& onStatus, const CancelQuery& isCancelled,
                                   const std::wstring& productFolder);

// The steps of checkAndDownload that judge what the service sent, in the order it takes them; the
// release verification tool judges a release folder with them.

// The service's two files and the most that is read of each.
inline constexpr char kManifestFileName[] = "manifest.json";
inline constexpr wchar_t kInstallerFileName[] = L"OrvantiSetup.exe";
inline constexpr std::uint64_t kManifestSizeLimit = 65536;
inline constexpr std::uint64_t kInstallerSizeLimit = 268435456;

// The manifest's answer must have the status 200.
void ensureManifestStatus(std::uint32_t statusCode);

// The installer's answer must have the status 200.
void ensureInstallerStatus(std::uint32_t statusCode);

// Holds the downloaded installer for its verification: open for reading, shared for reading only.
UniqueHandle holdInstallerForVerification(const std::wstring& installerPath);
