#include "install/publisher_signature.h"

#include "build_constants.h"
#include "common/not_available.h"

bool verifyPublisherSignature(const std::wstring&, std::string_view) {
  notAvailable("verifyPublisherSignature");
}

bool verifyPublisherSignature(const std::wstring& path) {
  return verifyPublisherSignature(path, kPinnedSignerThumbprint);
}
