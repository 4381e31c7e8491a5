#pragma once

#include <windows.h>

#include <string>
#include <string_view>

#include "common/unique_resource.h"

// Creates the folder `path` with the private descriptor for `sid` (privateFolderSddl). Fails with
// `descriptorMessage` when the descriptor cannot be built. Returns whether the folder was created;
// when not, the thread's last-error value is that of the creation.
bool createPrivateDirectory(const std::wstring& path, const std::wstring& sid,
                            std::string_view descriptorMessage);

// Opens the folder `path` itself (a link is opened, not followed) so that, while the handle
// lives, no process can rename, delete or replace it. Returns no handle when it cannot be opened
// so, or when it is not a folder or is a reparse point.
UniqueHandle holdFolder(const std::wstring& path);

// Whether the held folder's owner and access list keep it to `userSid`, the system and the
// administrators (keepsFolderPrivate), read through the handle, not the path.
bool heldFolderIsPrivate(HANDLE folder, const std::wstring& userSid);
