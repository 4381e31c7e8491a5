#pragma once

#include <functional>
#include <string>

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
