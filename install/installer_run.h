#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "install/argument_quoting.h"
#include "update/update_check.h"

// Holds, verifies again and starts the installer silently; waits for it and returns its exit code.
// beforeInstallerStart (may be empty) runs once just before the process is created.
std::uint32_t runInstaller(const UpdateCheckResult& result, bool silent,
                           const std::function<void()>& beforeInstallerStart);
