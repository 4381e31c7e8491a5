#include "tests/support/tls_test_server.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "common/text.h"
#include "common/unique_resource.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// The build folder (host path) that the Wine runner of this build exports.
std::string hostBuildDirectory() {
  const char* directory = std::getenv("ORVANTI_BUILD_DIR");
  if (directory == nullptr || *directory == '\0') {
    throw std::runtime_error("ORVANTI_BUILD_DIR is not set: run the tests through ctest");
  }
  return directory;
}

std::string inQuotes(const std::string& argument) { return "\"" + argument + "\""; }

}  // namespace

std::wstring hostPathToWindows(const std::string& hostPath) {
  std::wstring path = L"Z:" + toUtf16(hostPath);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  return path;
}

TlsTestServer::TlsTestServer(const Options& options) {
  static unsigned counter = 0;
  const std::string hostFolder = hostBuildDirectory() + "/test-runs/tls-" +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(++counter);
  folder_ = hostPathToWindows(hostFolder);
  fs::remove_all(folder_);
  fs::create_directories(folder_);

  // The build gives the script's absolute path: __FILE__ may be relative to the build folder (a
  // compiler cache rewrites absolute paths), which is not where the test runs.
  const std::string script = ORVANTI_TLS_TEST_SERVER_SCRIPT;
  std::string commandLine =
      "python3 " + inQuotes(script) + " --cert " + inQuotes(options.certificatePem) + " --key " +
      inQuotes(options.keyPem) + " --port-file " + inQuotes(hostFolder + "/port") +
      " --request-file " + inQuotes(hostFolder + "/requests") + " --body " + inQuotes(options.body);
  if (options.onlyOldTls) commandLine += " --only-old-tls";

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring wideCommandLine = toUtf16(commandLine);
  // Wine runs a Linux program natively; it gives no process handle for it (nor its standard
  // input), so the server ends when its folder goes, or after its lifetime if this process dies.
  if (!CreateProcessW(hostPathToWindows("/usr/bin/python3").c_str(), wideCommandLine.data(),
                      nullptr, nullptr, /* bInheritHandles */ FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    throw std::runtime_error("cannot start python3: " + std::to_string(GetLastError()));
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);

  const std::wstring portFile = folder_ + L"\\port";
  if (!pollUntil([&] { return fs::exists(portFile); }, std::chrono::seconds(20))) {
    throw std::runtime_error("the TLS test server did not start");
  }
  port_ = static_cast<std::uint16_t>(std::stoul(readFile(portFile)));
}

TlsTestServer::~TlsTestServer() {
  // The server ends when its folder goes.
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

std::wstring TlsTestServer::url(const std::wstring& pathAndQuery) const {
  return L"https://127.0.0.1:" + std::to_wstring(port_) + pathAndQuery;
}

std::string TlsTestServer::requests() const { return readFile(folder_ + L"\\requests"); }

}  // namespace testsupport
