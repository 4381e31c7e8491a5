// The signed release build against nginx offering TLS 1.0 and 1.1 only (the same sample
// configuration with its protocols put back to those of an outdated service): the program does
// not talk to it at all.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e_paths.h"
#include "tests/e2e/release_run.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

using e2e::ReleaseRunTest;
using e2e::startsWith;

class OldTlsEndToEndTest : public ReleaseRunTest {
 public:
  OldTlsEndToEndTest()
      : ReleaseRunTest(testsupport::binDirectory() + L"\\release-e2e\\OrvantiDownloader.exe",
                       kOldTlsServiceStateDir) {}
};

TEST_F(OldTlsEndToEndTest, ServerWithOnlyTlsOneOrOnePointOneIsRefused) {
  publish(L"sample-setup-1.0.0.0", "1.0.0.0");

  EXPECT_EQ(run(L"/silent"), 1u);
  ASSERT_EQ(eventNames(), (std::vector<std::string>{"downloader_started", "downloader_failed"}));
  EXPECT_EQ(events().at(0)["server"], kHttpsServiceUrl);
  const std::string message = events().at(1)["message"].get<std::string>();
  // The handshake fails when the request is sent. Wine reports 12157, Windows 12175.
  EXPECT_TRUE(message == "更新サーバーから応答がありません (12157)" ||
              message == "更新サーバーから応答がありません (12175)")
      << message;
  EXPECT_FALSE(fs::exists(installerRecord)) << "an installer was started";
  EXPECT_FALSE(fs::exists(productExecutable()));
  expectNothingLeftBehind();
  // Not one request reached the server.
  EXPECT_EQ(
      testsupport::readFile((fs::path(kOldTlsServiceStateDir) / L"nginx\\access.log").wstring()),
      "");
}

}  // namespace
