#pragma once

#include <windows.h>

#include <string>

#include "update/release_info.h"

// %LOCALAPPDATA%\Zarn\Orvanti (need not exist).
std::wstring productFolder();

// True when the installer must run: nothing installed, or the published version is newer.
bool isSetupRequired(const ReleaseInfo& manifest, const std::wstring& productFolder);

// Whether the file is accepted as the product's executable.
bool isInstalledProductFile(const std::wstring& path);

// Checks and starts the installed product; the caller owns the returned process handle.
HANDLE openInstalledProduct(const std::wstring& productFolder);
