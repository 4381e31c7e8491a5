#include "install/installer_run.h"

#include "common/not_available.h"

std::uint32_t runInstaller(const UpdateCheckResult&, bool, const std::function<void()>&) {
  notAvailable("runInstaller");
}

std::wstring quoteArgument(std::wstring_view) { notAvailable("quoteArgument"); }
