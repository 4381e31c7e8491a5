#include "common/version_resource.h"

#include "common/not_available.h"

std::wstring readVersionString(const std::wstring&, const std::wstring&) {
  notAvailable("readVersionString");
}
