#include "common/version.h"

#include "common/not_available.h"

VersionNumber parseVersion(const char*, std::size_t) { notAvailable("parseVersion"); }

bool isNewerVersion(std::string_view, std::string_view) { notAvailable("isNewerVersion"); }
