#include "update/url_policy.h"

bool carriesCredentials(std::size_t userNameLength, std::size_t passwordLength) {
  return userNameLength != 0 || passwordLength != 0;
}

bool isAllowedTransport(UrlScheme scheme, std::wstring_view host) {
  if (scheme == UrlScheme::Https) return true;
  // Compared code unit by code unit: "LOCALHOST" or "127.0.0.1." is some other name.
  return scheme == UrlScheme::Http && (host == L"127.0.0.1" || host == L"localhost");
}

std::wstring objectName(std::wstring_view path, std::wstring_view extraInfo) {
  if (path.empty() && extraInfo.empty()) return L"/";
  std::wstring name(path);
  name += extraInfo;
  return name;
}
