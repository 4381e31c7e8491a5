#include "install/installed_product.h"

#include "common/not_available.h"

std::wstring productFolder() { notAvailable("productFolder"); }

bool isSetupRequired(const ReleaseInfo&, const std::wstring&) { notAvailable("isSetupRequired"); }

bool isInstalledProductFile(const std::wstring&) { notAvailable("isInstalledProductFile"); }

HANDLE openInstalledProduct(const std::wstring&) { notAvailable("openInstalledProduct"); }
