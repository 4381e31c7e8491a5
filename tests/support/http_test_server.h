#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// What the server sends on each connection, after reading the request head.
struct CannedAnswer {
  std::string head;              // status line and header lines, ending with the empty line
  std::string body;              // sent after the head, `bodyRepeat` times over
  std::uint64_t bodyRepeat = 1;  // large bodies without holding them in memory
  // Stop sending after this many bytes (head included) and keep the connection open, silent,
  // until the client goes away or the server is destroyed. 0: accept and never answer.
  std::optional<std::uint64_t> stallAfter;
};

// The head of an answer: the status line, the given header lines (without line ends) and
// "Connection: close".
std::string answerHead(int status, const std::string& reason,
                       const std::vector<std::string>& headers = {});
// An answer of the given head and body, sent whole.
CannedAnswer cannedAnswer(std::string head, std::string body);
// A complete 200 answer with a Content-Length that matches the body.
CannedAnswer okAnswer(const std::string& body);

// A throw-away HTTP server on 127.0.0.1 with a port of its own. It serves its connections one
// after another with the one canned answer, closes each after the answer and records the
// requests it received.
class HttpTestServer {
 public:
  explicit HttpTestServer(CannedAnswer answer);
  // One answer per connection, in order; the last one is repeated for further connections.
  explicit HttpTestServer(std::vector<CannedAnswer> answers);
  ~HttpTestServer();
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>" followed by `pathAndQuery`.
  std::wstring url(const std::wstring& pathAndQuery) const;

  int connections() const { return connections_.load(); }
  // The request heads received so far (request line and headers, up to the empty line).
  std::vector<std::string> requests() const;
  // Body bytes sent on the current or last connection; true once the client has gone away.
  std::uint64_t bodyBytesSent() const { return bodyBytesSent_.load(); }
  bool clientGone() const { return clientGone_.load(); }

 private:
  void serve();
  void answer(SOCKET client);

  std::vector<CannedAnswer> answers_;
  CannedAnswer answer_;  // the current connection's
  SOCKET listener_ = INVALID_SOCKET;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<std::uint64_t> bodyBytesSent_{0};
  std::atomic<bool> clientGone_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

}  // namespace testsupport
