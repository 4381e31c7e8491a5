#pragma once

#include <cstdint>

// The calling thread's last-error value as the platform keeps it. The Windows build reads
// GetLastError (last_error_win32.cpp); the native build of the platform-free code reads errno.
std::uint32_t threadLastError();
