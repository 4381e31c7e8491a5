#include "tests/bench/bare_download.h"

#include <winhttp.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "common/unique_resource.h"
#include "update/winhttp_handle.h"

namespace {

constexpr DWORD kBlockSize = 65536;

}  // namespace

// The same requests as fetchUrl makes, without its policy, checks and cancel queries.
std::uint64_t bareDownload(const std::wstring& url, const std::wstring& destination) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
    throw std::runtime_error("crack");
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring object = std::wstring(parts.lpszUrlPath, parts.dwUrlPathLength) +
                              std::wstring(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  const UniqueWinHttpHandle root(WinHttpOpen(L"Orvanti/2", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  const UniqueWinHttpHandle connection(WinHttpConnect(root.get(), host.c_str(), parts.nPort, 0));
  const UniqueWinHttpHandle request(
      WinHttpOpenRequest(connection.get(), L"GET", object.c_str(), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES,
                         parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request || !WinHttpSendRequest(request.get(), nullptr, 0, nullptr, 0, 0, 0) ||
      !WinHttpReceiveResponse(request.get(), nullptr)) {
    throw std::runtime_error("bare request failed: " + std::to_string(GetLastError()));
  }
  const UniqueHandle file(CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw std::runtime_error("bare: cannot create the file");
  std::vector<char> buffer(kBlockSize);
  std::uint64_t total = 0;
  for (;;) {
    DWORD received = 0;
    if (!WinHttpReadData(request.get(), buffer.data(), kBlockSize, &received)) {
      throw std::runtime_error("bare read failed: " + std::to_string(GetLastError()));
    }
    if (received == 0) break;
    DWORD written = 0;
    if (!WriteFile(file.get(), buffer.data(), received, &written, nullptr) || written != received) {
      throw std::runtime_error("bare write failed");
    }
    total += received;
  }
  return total;
}
