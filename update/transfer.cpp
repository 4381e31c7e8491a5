#include "update/transfer.h"

#include <windows.h>
#include <winhttp.h>

#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

#include "common/user_error.h"
#include "update/transfer_rules.h"
#include "update/url_policy.h"
#include "update/winhttp_handle.h"

namespace {

constexpr wchar_t kUserAgent[] = L"Orvanti/2";
constexpr DWORD kBlockSize = 65536;
constexpr DWORD kHttpOk = 200;

constexpr char kCancelled[] = "ダウンロードを中止しました。";
constexpr char kBadUrl[] = "ダウンロードURLが不正です";
constexpr char kHttpsRequired[] = "更新の取得にはHTTPSが必要です";
constexpr char kCannotInitialise[] = "通信を初期化できません";
constexpr char kCannotInitialiseTls[] = "TLSを初期化できません";
constexpr char kCannotConnect[] = "更新サーバーに接続できません";
constexpr char kCannotRequest[] = "更新を要求できません";
constexpr char kNoResponse[] = "更新サーバーから応答がありません";
constexpr char kBadResponse[] = "HTTP応答が不正です";
constexpr char kCannotCreateFile[] = "更新ファイルを保存できません";
constexpr char kReceiveFailed[] = "更新ファイルの受信に失敗しました";
constexpr char kTooLarge[] = "更新ファイルが上限を超えました";
constexpr char kCannotWriteFile[] = "更新ファイルの保存に失敗しました";

void throwIfCancelled(const std::function<bool()>& isCancelled) {
  if (isCancelled) ensure(!isCancelled(), kCancelled);
}

UrlScheme schemeOf(const URL_COMPONENTS& parts) {
  switch (parts.nScheme) {
    case INTERNET_SCHEME_HTTP:
      return UrlScheme::Http;
    case INTERNET_SCHEME_HTTPS:
      return UrlScheme::Https;
    default:
      return UrlScheme::Other;
  }
}

// A header's text, or an empty text when it is absent or cannot be read.
std::wstring queryHeaderText(HINTERNET request, DWORD query) {
  DWORD size = 0;
  if (WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                          &size, WINHTTP_NO_HEADER_INDEX) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return {};
  }
  // The first answer counts bytes, terminator included; the second the characters it wrote.
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  text.resize(size / sizeof(wchar_t));
  return text;
}

bool setDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  return WinHttpSetOption(handle, option, &value, sizeof(value)) != FALSE;
}

}  // namespace

void ensureWithinSizeLimit(std::uint64_t total, std::uint64_t sizeLimit) {
  ensure(total <= sizeLimit, kTooLarge);
}

TransferResult fetchUrl(const std::wstring& url, const std::wstring& destination,
                        std::uint64_t sizeLimit, const std::function<bool()>& isCancelled) {
  return fetchUrl(url, destination, sizeLimit, isCancelled, TransferTimeouts{});
}

TransferResult fetchUrl(const std::wstring& url, const std::wstring& destination,
                        std::uint64_t sizeLimit, const std::function<bool()>& isCancelled,
                        const TransferTimeouts& timeouts) {
  throwIfCancelled(isCancelled);

  // Lengths of -1: the components come back as pointers into the URL, nothing decoded.
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUserNameLength = static_cast<DWORD>(-1);
  parts.dwPasswordLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  const bool cracked =
      WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), /* dwFlags */ 0, &parts);
  ensure(cracked && !carriesCredentials(parts.dwUserNameLength, parts.dwPasswordLength), kBadUrl);

  const UrlScheme scheme = schemeOf(parts);
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  ensure(isAllowedTransport(scheme, host), kHttpsRequired);

  // Declared in this order so that they close in the order request, connection, root.
  const UniqueWinHttpHandle root(WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS,
                                             /* dwFlags */ 0));
  ensure(root.valid(), kCannotInitialise);

  WinHttpSetTimeouts(root.get(), timeouts.resolveMs, timeouts.connectMs, timeouts.sendMs,
                     timeouts.receiveMs);

  ensure(requireModernTls([&](std::uint32_t protocols) {
           return setDwordOption(root.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, protocols);
         }),
         kCannotInitialiseTls);

  const UniqueWinHttpHandle connection(
      WinHttpConnect(root.get(), host.c_str(), parts.nPort, /* dwReserved */ 0));
  ensure(connection.valid(), kCannotConnect);

  const std::wstring object =
      objectName(std::wstring_view(parts.lpszUrlPath, parts.dwUrlPathLength),
                 std::wstring_view(parts.lpszExtraInfo, parts.dwExtraInfoLength));
  const UniqueWinHttpHandle request(WinHttpOpenRequest(
      connection.get(), L"GET", object.c_str(), /* pwszVersion */ nullptr, WINHTTP_NO_REFERER,
      WINHTTP_DEFAULT_ACCEPT_TYPES, scheme == UrlScheme::Https ? WINHTTP_FLAG_SECURE : 0));
  ensure(request.valid(), kCannotRequest);

  // The receive time-out does not bound the wait for the response headers everywhere: Wine waits
  // for ever on a server that accepts and never answers (its default here is infinite, Windows'
  // 90 s). Bound that wait by the same time-out; where the option is unknown, nothing changes.
  setDwordOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                 static_cast<DWORD>(timeouts.receiveMs));

  setDwordOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY,
                 WINHTTP_OPTION_REDIRECT_POLICY_NEVER);

  ensure(WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, /* dwHeadersLength */ 0,
                            WINHTTP_NO_REQUEST_DATA, /* dwOptionalLength */ 0,
                            /* dwTotalLength */ 0, /* dwContext */ 0) &&
             WinHttpReceiveResponse(request.get(), /* lpReserved */ nullptr),
         kNoResponse);

  DWORD statusCode = 0;
  DWORD statusSize = sizeof(statusCode);
  ensure(WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &statusCode, &statusSize,
                             WINHTTP_NO_HEADER_INDEX),
         kBadResponse);

  TransferResult result;
  result.statusCode = statusCode;
  // Any other status is the caller's to judge; its body is not wanted, nothing is written.
  if (statusCode != kHttpOk) return result;

  const std::wstring contentLength = queryHeaderText(request.get(), WINHTTP_QUERY_CONTENT_LENGTH);
  if (!contentLength.empty()) result.contentLength = parseContentLength(contentLength);

  std::ofstream file;
  if (!destination.empty()) {
    const std::filesystem::path path(destination);
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    file.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
    ensure(file.good(), kCannotCreateFile);
  }

  std::vector<char> buffer(kBlockSize);
  std::uint64_t total = 0;
  for (;;) {
    throwIfCancelled(isCancelled);
    DWORD received = 0;
    ensure(WinHttpReadData(request.get(), buffer.data(), kBlockSize, &received), kReceiveFailed);
    total += received;
    // Before storing, so that no byte beyond the limit is ever written or kept.
    ensureWithinSizeLimit(total, sizeLimit);
    // A failed write sets the stream's bad flag, which the check after the loop reports.
    if (file.is_open()) {
      file.write(buffer.data(), received);
    } else {
      result.body.append(buffer.data(), received);
    }
    if (received == 0) break;
  }

  // A body that ends short of its announced length is a broken transfer, not a smaller file. Wine
  // reports a connection closed early as the end of the body; Windows fails the read.
  const bool complete = contentLength.empty() || total == result.contentLength;
  if (!complete) SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
  ensure(complete, kReceiveFailed);

  if (file.is_open()) {
    file.flush();
    ensure(file.good(), kCannotWriteFile);
  }
  return result;
}
