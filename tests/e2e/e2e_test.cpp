// The real program under Wine against the local update service (tools/update_service.py, started
// by the test set-up on the address compiled into the dev build), over plain HTTP to this machine.
// Besides what any static host can serve, the service can misbehave on purpose through its options
// file (statuses, redirects, slow or endless bodies).
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/text.h"
#include "e2e_paths.h"
#include "tests/e2e/release_run.h"
#include "tests/support/run_observation.h"
#include "tests/support/test_support.h"
#include "tests/support/verify_tool.h"

namespace fs = std::filesystem;

namespace {

using e2e::ReleaseRunTest;
using e2e::startsWith;

std::wstring programPath() { return testsupport::binDirectory() + L"\\OrvantiDownloader.exe"; }

class EndToEndTest : public ReleaseRunTest {
 public:
  EndToEndTest() : ReleaseRunTest(programPath(), kServiceStateDir) {}

  void resetServiceAndProduct() override {
    ReleaseRunTest::resetServiceAndProduct();
    std::error_code ignored;
    fs::remove(fs::path(kServiceStateDir) / L"options.json", ignored);
  }

  static void serviceOptions(const nlohmann::json& options) {
    testsupport::writeFile((fs::path(kServiceStateDir) / L"options.json").wstring(),
                           options.dump());
  }
};

TEST_F(EndToEndTest, InstallsUpdatesAndThenOpensTheCurrentProduct) {
  installUpdateAndOpen("http://127.0.0.1:8765");
}

TEST_F(EndToEndTest, InstallerExitCodesArePassedOn) {
  for (const std::uint32_t code : {3010u, 5u}) {
    SCOPED_TRACE(code);
    resetServiceAndProduct();
    fs::remove(installerRecord);
    SetEnvironmentVariableW(L"ORVANTI_FIXTURE_INSTALLER_EXIT_CODE", std::to_wstring(code).c_str());
    publish(L"sample-setup-1.0.0.0", "1.0.0.0");
    logBefore = testsupport::eventLogLines().size();

    EXPECT_EQ(run(L"/silent"), code);
    EXPECT_EQ(eventNames(),
              (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
    EXPECT_EQ(events().at(1)["exitCode"], code);
    expectInstallerStartedSilently(" /VERYSILENT");
    expectNothingLeftBehind();
  }
}

// A service that is hostile or broken: every such run fails with the message of the check that
// caught it, starts no installer and leaves nothing behind.
TEST_F(EndToEndTest, HostileOrBrokenServiceIsRefused) {
  const auto withOptions = [](nlohmann::json options) {
    return [options](ReleaseRunTest& t) {
      t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
      serviceOptions(options);
    };
  };
  std::vector<ReleaseRunTest::Refusal> cases = {
      {"manifest 404", withOptions({{"manifest_status", 404}}),
       "更新サーバーに接続できませんでした。時間をおいて再実行してください。 ("},
      {"manifest 302", withOptions({{"manifest_redirect", true}}),
       "更新サーバーに接続できませんでした。時間をおいて再実行してください。 ("},
      {"installer 404", withOptions({{"installer_status", 404}}),
       "Orvantiのダウンロードに失敗しました。 ("},
      {"installer redirected", withOptions({{"installer_redirect", true}}),
       "Orvantiのダウンロードに失敗しました。 ("},
  };
  for (ReleaseRunTest::Refusal& refusal : servedContentRefusals()) cases.push_back(refusal);
  for (const ReleaseRunTest::Refusal& refusal : cases) expectRefused(refusal);
}

// OrvantiVerify.exe, run on the service's own release folder, reaches the verdict and the message
// that the real program reaches when it fetches the same release from the service.
TEST_F(EndToEndTest, VerifyToolJudgesAReleaseAsTheProgramDoes) {
  using Arrange = std::function<void(EndToEndTest&)>;
  const auto fixture = [](const wchar_t* name, const char* version) -> Arrange {
    return [=](EndToEndTest& t) { t.publish(name, version); };
  };
  const struct {
    const char* name;
    Arrange arrange;
  } cases[] = {
      {"sample release", fixture(L"sample-setup-1.0.0.0", "1.0.0.0")},
      {"signed by another publisher", fixture(L"installer-other-signer", "1.2.0.0")},
      {"under an untrusted root", fixture(L"installer-untrusted", "1.2.0.0")},
      {"product name in lower case", fixture(L"installer-lowercase-product", "1.2.0.0")},
      {"other published version", fixture(L"sample-setup-1.0.0.0", "1.0.0.1")},
      {"wrong size in the manifest",
       [](EndToEndTest& t) {
         nlohmann::json manifest = t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
         manifest["sizeBytes"] = manifest["sizeBytes"].get<int>() - 1;
         t.writeManifest(manifest.dump());
       }},
      {"manifest of another product",
       [](EndToEndTest& t) {
         nlohmann::json manifest = t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
         manifest["product"] = "orvanti";
         t.writeManifest(manifest.dump());
       }},
      {"manifest not JSON",
       [](EndToEndTest& t) {
         t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
         t.writeManifest("{\"available\": true,}");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    resetServiceAndProduct();
    fs::remove(installerRecord);
    c.arrange(*this);
    const testsupport::VerifyToolRun verdict =
        testsupport::judgeWithVerifyTool(releaseFolder().wstring());
    logBefore = testsupport::eventLogLines().size();

    const std::uint32_t exitCode = run(L"/silent");
    const std::vector<std::string> names = eventNames();
    ASSERT_EQ(names.size(), 2u);
    if (verdict.report["accepted"]) {
      EXPECT_EQ(verdict.exitCode, 0u);
      EXPECT_EQ(exitCode, 0u);
      EXPECT_EQ(names[1], "downloader_setup_finished");
      EXPECT_TRUE(fs::exists(installerRecord)) << "the program did not run the installer";
    } else {
      EXPECT_EQ(verdict.exitCode, 1u);
      EXPECT_EQ(exitCode, 1u);
      ASSERT_EQ(names[1], "downloader_failed");
      EXPECT_EQ(events().at(1)["message"], verdict.report["message"]);
    }
    EXPECT_EQ(verdict.exitCode == 0, c.name == std::string("sample release"));
  }
}

// The one slow case: a body that never ends is given up after the receive time-out (30 s).
TEST_F(EndToEndTest, InstallerBodyThatNeverEndsFailsAfterTheTimeOut) {
  publish(L"sample-setup-1.0.0.0", "1.0.0.0");
  serviceOptions({{"installer_never_ends", true}});

  EXPECT_EQ(run(L"/silent"), 1u);
  ASSERT_EQ(eventNames(), (std::vector<std::string>{"downloader_started", "downloader_failed"}));
  EXPECT_TRUE(startsWith(events().at(1)["message"].get<std::string>(),
                         "更新ファイルの受信に失敗しました ("))
      << events().at(1).dump();
  EXPECT_FALSE(fs::exists(installerRecord));
  expectNothingLeftBehind();
}

// The progress window of the real program, found the way a user's tools would find it.
HWND waitForWindow(const testsupport::ChildProcess& child) {
  HWND window = nullptr;
  testsupport::pollUntil(
      [&] { return (window = child.findWindow(L"Zarn.OrvantiDownloader")) != nullptr; },
      std::chrono::seconds(30));
  return window;
}

// Waits for the end, noting whether a message box appeared meanwhile.
long long waitNotingBoxes(testsupport::ChildProcess& child, bool& boxSeen) {
  long long code = -1;
  testsupport::pollUntil(
      [&] {
        boxSeen = boxSeen || child.findMessageBox() != nullptr;
        return (code = child.wait(std::chrono::milliseconds(0))) != -1;
      },
      std::chrono::seconds(60));
  return code;
}

TEST_F(EndToEndTest, CancelDuringASlowDownloadEndsWith1223AndNoBox) {
  struct Way {
    const char* name;
    void (*cancel)(HWND window);
  };
  const Way ways[] = {
      {"Cancel button",
       [](HWND window) {
         SendMessageW(testsupport::findChild(window, L"Button"), BM_CLICK, 0, 0);
       }},
      {"Escape", [](HWND window) { PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001); }},
      {"close box", [](HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    resetServiceAndProduct();
    publish(L"sample-setup-1.0.0.0", "1.0.0.0");
    serviceOptions({{"installer_rate", 20000}});
    logBefore = testsupport::eventLogLines().size();

    testsupport::ChildProcess child(programPath(), L" /showui");
    const HWND window = waitForWindow(child);
    ASSERT_NE(window, nullptr);
    const HWND status = testsupport::findChild(window, L"Static");
    ASSERT_NE(status, nullptr);
    ASSERT_TRUE(testsupport::pollUntil(
        [&] {
          return testsupport::windowText(status) == L"オルバンティをダウンロードしています...";
        },
        std::chrono::seconds(30)));
    // Part of the body has arrived when the request comes.
    ASSERT_TRUE(testsupport::pollUntil(
        [&] {
          for (const auto& entry : fs::directory_iterator(fs::temp_directory_path())) {
            std::error_code missing;
            const auto size = fs::file_size(entry.path() / L"OrvantiSetup.exe", missing);
            if (!missing && size > 0) return true;
          }
          return false;
        },
        std::chrono::seconds(30)));
    way.cancel(window);

    bool boxSeen = false;
    EXPECT_EQ(waitNotingBoxes(child, boxSeen), 1223);
    EXPECT_FALSE(boxSeen) << "a cancelled run shows no box";
    ASSERT_EQ(eventNames(), (std::vector<std::string>{"downloader_started", "downloader_failed"}));
    EXPECT_EQ(events().at(1)["exitCode"], 1223);
    EXPECT_TRUE(
        startsWith(events().at(1)["message"].get<std::string>(), "ダウンロードを中止しました。 ("));
    EXPECT_FALSE(fs::exists(installerRecord));
    expectNothingLeftBehind();
  }
}

// The end of a /showui run: at most one box, owned by the window, with the outcome's text.
TEST_F(EndToEndTest, ShowUiEndsWithTheBoxThatTheOutcomeCallsFor) {
  struct Case {
    const char* name;
    std::function<void(EndToEndTest&)> arrange;
    const wchar_t* boxText;  // the start of the text
    std::uint32_t exitCode;
  };
  const Case cases[] = {
      {"service refuses the manifest",
       [](EndToEndTest& t) {
         t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
         serviceOptions({{"manifest_status", 503}});
       },
       L"更新サーバーに接続できませんでした。時間をおいて再実行してください。 (", 1},
      {"installer asks for a restart",
       [](EndToEndTest& t) {
         SetEnvironmentVariableW(L"ORVANTI_FIXTURE_INSTALLER_EXIT_CODE", L"3010");
         t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
       },
       L"インストールが完了しました。Windowsを再起動してください。", 3010},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resetServiceAndProduct();
    fs::remove(installerRecord);
    c.arrange(*this);

    testsupport::ChildProcess child(programPath(), L" /showui");
    const HWND window = waitForWindow(child);
    ASSERT_NE(window, nullptr);
    HWND box = nullptr;
    ASSERT_TRUE(testsupport::pollUntil(
        [&] {
          box = child.findMessageBox();
          return box != nullptr && !testsupport::messageBoxText(box).empty();
        },
        std::chrono::seconds(60)));
    EXPECT_EQ(GetWindow(box, GW_OWNER), window);
    EXPECT_EQ(testsupport::messageBoxText(box).rfind(c.boxText, 0), 0u)
        << toUtf8(testsupport::messageBoxText(box));
    PostMessageW(box, WM_COMMAND, IDOK, 0);

    bool anotherBox = false;
    testsupport::pollUntil([&] { return !IsWindow(box); }, std::chrono::seconds(20));
    EXPECT_EQ(waitNotingBoxes(child, anotherBox), c.exitCode);
    EXPECT_FALSE(anotherBox) << "a second box appeared";
    expectNothingLeftBehind();
  }
}

}  // namespace
