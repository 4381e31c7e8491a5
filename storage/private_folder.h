#pragma once

#include <string>
#include <string_view>

// Creates the folder `path` with the private descriptor for `sid` (privateFolderSddl). Fails with
// `descriptorMessage` when the descriptor cannot be built. Returns whether the folder was created;
// when not, the thread's last-error value is that of the creation.
bool createPrivateDirectory(const std::wstring& path, const std::wstring& sid,
                            std::string_view descriptorMessage);
