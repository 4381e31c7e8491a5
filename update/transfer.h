#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct TransferResult {
  std::string body;                 // the body when kept in memory and the status is 200
  std::uint64_t contentLength = 0;  // Content-Length of a 200 answer, 0 when absent
  std::uint32_t statusCode = 0;
};

// One GET under the transport policy. An empty destination keeps the body in memory; otherwise it
// is streamed into that file. Fails when more than sizeLimit body bytes arrive or when isCancelled
// (may be empty) answers true before a read.
TransferResult fetchUrl(const std::wstring& url, const std::wstring& destination,
                        std::uint64_t sizeLimit, const std::function<bool()>& isCancelled);

// Fails with the transfer's "更新ファイルが上限を超えました" when more than sizeLimit bytes have
// arrived in total.
void ensureWithinSizeLimit(std::uint64_t total, std::uint64_t sizeLimit);

// The platform time-outs of a transfer, in milliseconds; the defaults are those of fetchUrl.
struct TransferTimeouts {
  int resolveMs = 10000;
  int connectMs = 10000;
  int sendMs = 30000;
  int receiveMs = 30000;
};

// fetchUrl with other time-outs, for tests of a stalled server that cannot wait the real ones.
TransferResult fetchUrl(const std::wstring& url, const std::wstring& destination,
                        std::uint64_t sizeLimit, const std::function<bool()>& isCancelled,
                        const TransferTimeouts& timeouts);
