#include "install/installer_verification.h"

#include "common/not_available.h"

void verifyInstaller(const ReleaseInfo&, const std::wstring&) { notAvailable("verifyInstaller"); }
