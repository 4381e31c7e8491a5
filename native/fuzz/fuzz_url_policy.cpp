// The URL policy on the parts of a URL as the platform cracked them. Input: one byte for the
// scheme (Other, Http, Https), two for the user-name and password lengths, then UTF-16LE units
// of the host, the path and the query, separated by the unit U+FFFF.
#include <cstdint>
#include <string>
#include <vector>

#include "native/fuzz/fuzz_support.h"
#include "update/url_policy.h"

using fuzzsupport::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const UrlScheme scheme = static_cast<UrlScheme>(data[0] % 3);
  const std::size_t userNameLength = data[1];
  const std::size_t passwordLength = data[2];
  const std::wstring units = fuzzsupport::utf16Units(data + 3, size - 3);
  std::vector<std::wstring> parts(1);
  for (const wchar_t c : units) {
    if (c == 0xFFFF && parts.size() < 3) {
      parts.emplace_back();
    } else {
      parts.back().push_back(c);
    }
  }
  parts.resize(3);
  const std::wstring& host = parts[0];
  const std::wstring& path = parts[1];
  const std::wstring& query = parts[2];

  check(carriesCredentials(userNameLength, passwordLength) ==
            (userNameLength > 0 || passwordLength > 0),
        "credentials judged wrongly");

  const bool thisMachine = host == std::wstring(L"127.0.0.1") || host == std::wstring(L"localhost");
  const bool expected = scheme == UrlScheme::Https || (scheme == UrlScheme::Http && thisMachine);
  check(isAllowedTransport(scheme, host) == expected, "transport judged wrongly",
        fuzzsupport::hexUnits(host));

  const std::wstring name = objectName(path, query);
  if (path.empty() && query.empty()) {
    check(name == L"/", "the root expected");
  } else {
    check(name.size() == path.size() + query.size() && name.compare(0, path.size(), path) == 0 &&
              name.compare(path.size(), query.size(), query) == 0,
          "object name is not path and query", fuzzsupport::hexUnits(name));
  }
  return 0;
}
