#include "tests/support/http_test_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <stdexcept>

namespace testsupport {

namespace {

struct WinsockStartup {
  WinsockStartup() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  }
};

// Waits up to `milliseconds` for the socket to become readable.
bool readable(SOCKET socket, int milliseconds) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(socket, &set);
  timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
  return select(0, &set, nullptr, nullptr, &timeout) == 1;
}

}  // namespace

std::string answerHead(int status, const std::string& reason,
                       const std::vector<std::string>& headers) {
  std::string head = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
  for (const std::string& header : headers) head += header + "\r\n";
  head += "Connection: close\r\n\r\n";
  return head;
}

CannedAnswer cannedAnswer(std::string head, std::string body) {
  CannedAnswer answer;
  answer.head = std::move(head);
  answer.body = std::move(body);
  return answer;
}

CannedAnswer okAnswer(const std::string& body) {
  return cannedAnswer(answerHead(200, "OK", {"Content-Length: " + std::to_string(body.size())}),
                      body);
}

HttpTestServer::HttpTestServer(CannedAnswer answer)
    : HttpTestServer(std::vector<CannedAnswer>{std::move(answer)}) {}

HttpTestServer::HttpTestServer(std::vector<CannedAnswer> answers) : answers_(std::move(answers)) {
  static WinsockStartup startup;
  listener_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listener_ == INVALID_SOCKET) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  int length = sizeof(address);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      listen(listener_, 8) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    closesocket(listener_);
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

HttpTestServer::~HttpTestServer() {
  stopping_ = true;
  thread_.join();
  closesocket(listener_);
}

std::wstring HttpTestServer::url(const std::wstring& pathAndQuery) const {
  return L"http://127.0.0.1:" + std::to_wstring(port_) + pathAndQuery;
}

std::vector<std::string> HttpTestServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void HttpTestServer::serve() {
  while (!stopping_) {
    if (!readable(listener_, 50)) continue;
    const SOCKET client = accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    const std::size_t index = static_cast<std::size_t>(connections_++);
    answer_ = answers_[std::min(index, answers_.size() - 1)];
    bodyBytesSent_ = 0;
    clientGone_ = false;
    answer(client);
    closesocket(client);
    clientGone_ = true;
  }
}

void HttpTestServer::answer(SOCKET client) {
  // The request head; the client sends no body with its GET.
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos && !stopping_) {
    if (!readable(client, 50)) continue;
    const int received = recv(client, buffer, sizeof(buffer), 0);
    if (received <= 0) return;
    request.append(buffer, static_cast<std::size_t>(received));
  }
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(request.substr(0, request.find("\r\n\r\n") + 4));
  }

  const std::uint64_t limit = answer_.stallAfter.value_or(UINT64_MAX);
  std::uint64_t sent = 0;
  // Sends at most what the stall point leaves; false when the client has gone away.
  const auto sendBytes = [&](const std::string& bytes, bool countsAsBody) {
    std::size_t offset = 0;
    while (offset < bytes.size() && sent < limit && !stopping_) {
      const std::uint64_t wanted =
          std::min<std::uint64_t>({bytes.size() - offset, limit - sent, std::uint64_t{1} << 20});
      const int written = send(client, bytes.data() + offset, static_cast<int>(wanted), 0);
      if (written <= 0) return false;
      offset += static_cast<std::size_t>(written);
      sent += static_cast<std::uint64_t>(written);
      if (countsAsBody) bodyBytesSent_ += static_cast<std::uint64_t>(written);
    }
    return true;
  };
  if (!sendBytes(answer_.head, false)) return;
  for (std::uint64_t i = 0; i < answer_.bodyRepeat; ++i) {
    if (!sendBytes(answer_.body, true)) return;
  }

  // After a complete answer the server closes its side; either way it keeps the connection until
  // the client lets go, so that nothing is cut off under a reading client.
  if (!answer_.stallAfter) shutdown(client, SD_SEND);
  while (!stopping_) {
    if (readable(client, 50) && recv(client, buffer, sizeof(buffer), 0) <= 0) return;
  }
}

}  // namespace testsupport
