#pragma once

#include <string>

#include "update/release_info.h"

// Returns normally only when the file is exactly the installer that the manifest describes:
// size, SHA-256, pinned publisher signature, product name, description and version.
void verifyInstaller(const ReleaseInfo& manifest, const std::wstring& installerPath);
