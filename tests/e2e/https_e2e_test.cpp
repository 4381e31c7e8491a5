// The release build of the real program, signed like a shipped one, against nginx over TLS
// (tools/nginx/update-service.conf.in filled in by the test set-up on the address compiled into
// that build): the road a release takes to the users' machines.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e_paths.h"
#include "install/publisher_signature.h"
#include "test_pki.h"
#include "tests/e2e/release_run.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

using e2e::ReleaseRunTest;

std::wstring signedReleaseProgram() {
  return testsupport::binDirectory() + L"\\release-e2e\\OrvantiDownloader.exe";
}

class HttpsEndToEndTest : public ReleaseRunTest {
 public:
  HttpsEndToEndTest() : ReleaseRunTest(signedReleaseProgram(), kHttpsServiceStateDir) {}

  // What nginx has answered so far, one line per request.
  static std::string accessLog() {
    return testsupport::readFile(
        (fs::path(kHttpsServiceStateDir) / L"nginx\\access.log").wstring());
  }
};

TEST_F(HttpsEndToEndTest, InstallsUpdatesAndThenOpensTheCurrentProductOverTls) {
  const size_t requestsBefore = e2e::lines(accessLog()).size();
  installUpdateAndOpen(kHttpsServiceUrl);

  // Both files came from nginx, whole, to the program's own client, over TLS 1.2 or newer (the
  // fixture logs each request's protocol last but one).
  std::vector<std::string> served = e2e::lines(accessLog());
  served.erase(served.begin(), served.begin() + static_cast<std::ptrdiff_t>(requestsBefore));
  int manifests = 0;
  int installers = 0;
  for (const std::string& line : served) {
    SCOPED_TRACE(line);
    EXPECT_NE(line.find("\"Orvanti/2\""), std::string::npos);
    EXPECT_TRUE(line.find(" TLSv1.2 ") != std::string::npos ||
                line.find(" TLSv1.3 ") != std::string::npos);
    if (line.find("\"GET /tov/v2/client/client-updates/orvanti HTTP/1.1\" 200 ") !=
        std::string::npos) {
      ++manifests;
    }
    if (line.find("\"GET /tov/v2/client/client-updates/orvanti/download HTTP/1.1\" 200 ") !=
        std::string::npos) {
      ++installers;
    }
  }
  EXPECT_EQ(manifests, 3);
  EXPECT_EQ(installers, 2);
  EXPECT_EQ(served.size(), 5u);
}

// A hostile or broken service behind TLS is refused exactly as one over plain HTTP.
TEST_F(HttpsEndToEndTest, HostileServiceIsRefusedAsOverHttp) {
  for (const ReleaseRunTest::Refusal& refusal : servedContentRefusals()) expectRefused(refusal);
}

// The shipped downloader carries the publisher's signature, which the platform accepts for the
// pinned publisher and for no other; the unsigned build output is refused.
TEST(SignedReleaseDownloader, PassesThePlatformSignatureCheckForThePublisherOnly) {
  EXPECT_TRUE(verifyPublisherSignature(signedReleaseProgram(), kTestPublisherThumbprint));
  EXPECT_FALSE(verifyPublisherSignature(signedReleaseProgram(), kTestOtherPublisherThumbprint));
  EXPECT_FALSE(verifyPublisherSignature(kUnsignedReleaseProgram, kTestPublisherThumbprint));
}

}  // namespace
