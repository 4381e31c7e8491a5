// The thread's last-error value on this machine: errno.
#include <cerrno>

#include "common/last_error.h"

std::uint32_t threadLastError() { return static_cast<std::uint32_t>(errno); }
