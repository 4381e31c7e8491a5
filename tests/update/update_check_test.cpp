// The check and download against a local HTTP server that answers the manifest request and then
// the installer request, with the real transfer, decision and verification behind it.
#include "update/update_check.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/sha256.h"
#include "tests/support/fixture_programs.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/support/user_error_text.h"

namespace fs = std::filesystem;
using testsupport::CannedAnswer;
using testsupport::HttpTestServer;

namespace {

constexpr wchar_t kChecking[] = L"オルバンティの最新版を確認しています...";
constexpr wchar_t kCurrent[] = L"インストール済みのオルバンティは最新です。";
constexpr wchar_t kDownloading[] = L"オルバンティをダウンロードしています...";
constexpr wchar_t kVerifying[] = L"インストーラの署名と内容を確認しています...";
constexpr char kManifestRequest[] = "GET /tov/v2/client/client-updates/orvanti HTTP/1.1";
constexpr char kInstallerRequest[] = "GET /tov/v2/client/client-updates/orvanti/download HTTP/1.1";

std::string requestLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

// The sample release's installer and the manifest that describes it.
struct Release {
  std::string installer =
      testsupport::readFile(testsupport::fixtureProgram(L"sample-setup-1.0.0.0"));
  nlohmann::json manifest = {
      {"available", true},
      {"product", "Orvanti"},
      {"latestVersion", "1.0.0.0"},
      {"sha256", sha256File(testsupport::fixtureProgram(L"sample-setup-1.0.0.0"))},
      {"sizeBytes", installer.size()},
      {"downloadPath", "/tov/v2/client/client-updates/orvanti/download"}};
};

class UpdateCheckTest : public testing::Test {
 protected:
  // The base URL of a server on 127.0.0.1: an origin without the trailing slash.
  static std::wstring baseOf(const HttpTestServer& server) { return server.url(L""); }

  UpdateCheckResult check(const HttpTestServer& server, const CancelQuery& isCancelled = {}) {
    return checkAndDownload(
        baseOf(server), downloads.path(),
        [this](const std::wstring& text) { statuses.push_back(text); }, isCancelled,
        product.path());
  }

  bool installerLeft() const { return fs::exists(downloads.file(L"OrvantiSetup.exe")); }

  testsupport::TempFolder downloads;
  testsupport::TempFolder product;
  std::vector<std::wstring> statuses;
  Release release;
};

TEST_F(UpdateCheckTest, MalformedBaseUrlFailsBeforeAnyStatus) {
  for (const wchar_t* base : {L"", L"http://127.0.0.1:8765/", L"http://127.0.0.1:8765?a=1",
                              L"http://127.0.0.1:8765#top"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(base)));
    statuses.clear();
    EXPECT_EQ(testsupport::userErrorMessage([&] {
                checkAndDownload(
                    base, downloads.path(),
                    [this](const std::wstring& text) { statuses.push_back(text); }, {},
                    product.path());
              }),
              "更新サーバーのURLが不正です。");
    EXPECT_TRUE(statuses.empty());
  }
}

TEST_F(UpdateCheckTest, CurrentProductIsReportedWithoutDownloading) {
  ASSERT_TRUE(CopyFileW(testsupport::fixtureProgram(L"sample-product-1.0.0.0").c_str(),
                        product.file(L"Orvanti.exe").c_str(), FALSE));
  HttpTestServer server(testsupport::okAnswer(release.manifest.dump()));

  const UpdateCheckResult result = check(server);
  EXPECT_EQ(result.installerPath, L"");
  EXPECT_EQ(result.manifest, release.manifest);
  EXPECT_EQ(statuses, (std::vector<std::wstring>{kChecking, kCurrent}));
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(requestLine(server.requests()[0]), kManifestRequest);
  EXPECT_TRUE(fs::is_empty(downloads.path()));

  // Without callbacks it takes the same road.
  const UpdateCheckResult quiet =
      checkAndDownload(baseOf(server), downloads.path(), {}, {}, product.path());
  EXPECT_EQ(quiet.installerPath, L"");
}

TEST_F(UpdateCheckTest, NewerReleaseIsDownloadedAndVerified) {
  HttpTestServer server(std::vector<CannedAnswer>{testsupport::okAnswer(release.manifest.dump()),
                                                  testsupport::okAnswer(release.installer)});

  const UpdateCheckResult result = check(server);
  EXPECT_EQ(result.installerPath, downloads.file(L"OrvantiSetup.exe"));
  EXPECT_EQ(testsupport::readFile(result.installerPath), release.installer);
  EXPECT_EQ(result.manifest, release.manifest);
  EXPECT_EQ(statuses, (std::vector<std::wstring>{kChecking, kDownloading, kVerifying}));
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_EQ(requestLine(server.requests()[0]), kManifestRequest);
  EXPECT_EQ(requestLine(server.requests()[1]), kInstallerRequest);
  // No longer held: the caller can open it for its own hold.
  EXPECT_TRUE(fs::remove(result.installerPath));
}

TEST_F(UpdateCheckTest, ManifestThatCannotBeUsedStopsBeforeTheDownload) {
  struct Case {
    const char* name;
    CannedAnswer answer;
    const char* message;
  };
  const Case cases[] = {
      {"not found", testsupport::cannedAnswer(testsupport::answerHead(404, "Not Found"), ""),
       "更新サーバーに接続できませんでした。時間をおいて再実行してください。"},
      {"redirect",
       testsupport::cannedAnswer(
           testsupport::answerHead(302, "Found", {"Location: http://127.0.0.1:1/elsewhere"}), ""),
       "更新サーバーに接続できませんでした。時間をおいて再実行してください。"},
      {"over the limit", testsupport::okAnswer(std::string(65537, ' ')),
       "更新ファイルが上限を超えました"},
      {"other product",
       testsupport::okAnswer(nlohmann::json{{"available", true}, {"product", "Other"}}.dump()),
       "別製品の配布情報は使用できません。"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpTestServer server(c.answer);
    EXPECT_EQ(testsupport::userErrorMessage([&] { check(server); }), c.message);
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(fs::is_empty(downloads.path()));
  }

  // A body that is not one JSON text fails with the library's own parse error.
  for (const char* body : {"", "{} {}", "{\"available\": true /* no comments */}"}) {
    SCOPED_TRACE(body);
    HttpTestServer server(testsupport::okAnswer(body));
    EXPECT_THROW(check(server), nlohmann::json::parse_error);
    EXPECT_TRUE(fs::is_empty(downloads.path()));
  }
}

TEST_F(UpdateCheckTest, FailureFromTheDownloadOnLeavesNoInstaller) {
  nlohmann::json otherDigest = release.manifest;
  otherDigest["sha256"] = std::string(64, 'a');
  struct Case {
    const char* name;
    nlohmann::json manifest;
    CannedAnswer installer;
    const char* message;
  };
  const Case cases[] = {
      {"installer not found", release.manifest,
       testsupport::cannedAnswer(testsupport::answerHead(404, "Not Found"), "gone"),
       "Orvantiのダウンロードに失敗しました。"},
      {"digest differs", otherDigest, testsupport::okAnswer(release.installer),
       "インストーラのハッシュが一致しません。"},
      {"body cut short", release.manifest,
       [&] {
         CannedAnswer cut = testsupport::okAnswer(release.installer);
         cut.body.resize(cut.body.size() / 2);
         return cut;
       }(),
       "更新ファイルの受信に失敗しました"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpTestServer server(
        std::vector<CannedAnswer>{testsupport::okAnswer(c.manifest.dump()), c.installer});
    EXPECT_EQ(testsupport::userErrorMessage([&] { check(server); }), c.message);
    EXPECT_FALSE(installerLeft());
  }
}

TEST_F(UpdateCheckTest, CancelWhileTheInstallerArrivesDeletesThePartialFile) {
  // Slow enough that the cancel comes while the body is still arriving.
  CannedAnswer slow = testsupport::okAnswer(release.installer);
  slow.stallAfter = slow.head.size() + 65536 * 2;
  HttpTestServer server(
      std::vector<CannedAnswer>{testsupport::okAnswer(release.manifest.dump()), slow});
  const CancelQuery cancelOnceBytesArrived = [this] {
    std::error_code missing;
    const auto size = fs::file_size(downloads.file(L"OrvantiSetup.exe"), missing);
    return !missing && size > 0;
  };

  EXPECT_EQ(testsupport::userErrorMessage([&] { check(server, cancelOnceBytesArrived); }),
            "ダウンロードを中止しました。");
  EXPECT_FALSE(installerLeft());
  EXPECT_EQ(statuses, (std::vector<std::wstring>{kChecking, kDownloading}));
}

}  // namespace
