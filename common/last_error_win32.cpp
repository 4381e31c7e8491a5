#include "common/last_error.h"

#include <windows.h>

std::uint32_t threadLastError() { return GetLastError(); }
