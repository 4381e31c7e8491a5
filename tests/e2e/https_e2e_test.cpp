// The release build of the real program, signed like a shipped one, against nginx over TLS
// (tools/nginx/update-service.conf.in filled in by the test set-up on the address compiled into
// that build): the road a release takes to the users' machines.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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
  installUpdateAndOpen(kHttpsServiceUrl);

  // Both files came from nginx, whole, to the program's own client.
  const std::string served = accessLog();
  EXPECT_NE(served.find("\"GET /tov/v2/client/client-updates/orvanti HTTP/1.1\" 200 "),
            std::string::npos)
      << served;
  EXPECT_NE(served.find("\"GET /tov/v2/client/client-updates/orvanti/download HTTP/1.1\" 200 "),
            std::string::npos)
      << served;
  EXPECT_NE(served.find("\"Orvanti/2\""), std::string::npos) << served;
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
