#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace testsupport {

// The Windows form (drive Z:) of a path of the Linux host that Wine runs on.
std::wstring hostPathToWindows(const std::string& hostPath);

// The HTTPS server of tests/support/tls_test_server.py on 127.0.0.1, run by the host's Python
// (Windows offers no TLS server that Wine could run here). It answers every GET with 200 and
// `body`, and ends when this object goes away, or when the test process ends.
class TlsTestServer {
 public:
  struct Options {
    std::string certificatePem;  // host paths
    std::string keyPem;
    std::string body = "tls body";
    bool onlyOldTls = false;  // offer TLS 1.0 and 1.1 only
  };
  explicit TlsTestServer(const Options& options);
  ~TlsTestServer();
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  std::uint16_t port() const { return port_; }
  // "https://127.0.0.1:<port>" followed by `pathAndQuery`.
  std::wstring url(const std::wstring& pathAndQuery) const;
  // The request heads received so far, one after another.
  std::string requests() const;

 private:
  std::wstring folder_;  // Windows path of the run folder
  std::uint16_t port_ = 0;
};

}  // namespace testsupport
