#pragma once

#include <string>

#include "common/unique_resource.h"

// Opens an existing file for reading, sharing it for reading only: while the handle is open
// nobody can write, replace or delete the file, while reads and process creation still work.
// The handle is not valid when the file cannot be opened (the last-error value says why).
UniqueHandle holdForReading(const std::wstring& path);
