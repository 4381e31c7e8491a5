#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Downloads the URL into the file with the plainest WinHTTP loop of fetchUrl's block size: the
// yardstick that the benchmarks measure the program's own transfer against. Returns the bytes.
std::uint64_t bareDownload(const std::wstring& url, const std::wstring& destination);
