// The real program under Wine against the local update service (tools/update_service.py, started
// by the test set-up on the address compiled into the dev build). Each test publishes a release
// into the service's folder, may make the service misbehave through its options file, runs the
// program as a child process and looks at what a user or an administrator would see: the exit
// code, the event log, the installed product, the records of the started installer and product,
// and the temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/sha256.h"
#include "common/text.h"
#include "common/version_resource.h"
#include "e2e_paths.h"
#include "install/installed_product.h"
#include "tests/support/fixture_programs.h"
#include "tests/support/run_observation.h"
#include "tests/support/test_support.h"
#include "tests/support/verify_tool.h"

namespace fs = std::filesystem;

namespace {

constexpr char kDownloadPath[] = "/tov/v2/client/client-updates/orvanti/download";
constexpr char kTail[] = " /SUPPRESSMSGBOXES /NORESTART /SP-";
constexpr wchar_t kDownloadFolderPrefix[] = L"OrvantiDownloader-";

std::wstring programPath() { return testsupport::binDirectory() + L"\\OrvantiDownloader.exe"; }
fs::path releaseFolder() { return fs::path(kServiceStateDir) / L"release"; }
fs::path servedInstaller() { return releaseFolder() / L"OrvantiSetup.exe"; }
fs::path productExecutable() { return fs::path(productFolder()) / L"Orvanti.exe"; }

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    result.push_back(text.substr(start, end - start));
  }
  return result;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.rfind(prefix, 0) == 0;
}

class EndToEndTest : public testing::Test {
 public:  // the case table arranges the service from outside
  void SetUp() override {
    resetServiceAndProduct();
    SetEnvironmentVariableW(L"ORVANTI_FIXTURE_INSTALLER_RECORD", installerRecord.c_str());
    SetEnvironmentVariableW(L"ORVANTI_FIXTURE_PRODUCT_RECORD", productRecord.c_str());
    SetEnvironmentVariableW(L"ORVANTI_FIXTURE_INSTALLER_EXIT_CODE", nullptr);
    foldersBefore = downloadFolders();
    logBefore = testsupport::eventLogLines().size();
  }

  // Leaves no release behind, so that other tests find a service that has nothing to offer.
  void TearDown() override { resetServiceAndProduct(); }

  static void resetServiceAndProduct() {
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(releaseFolder(), ignored)) {
      fs::remove_all(entry.path(), ignored);
    }
    fs::remove(fs::path(kServiceStateDir) / L"options.json", ignored);
    fs::remove(productExecutable(), ignored);
  }

  // Puts a fixture installer on the service with the manifest that describes it.
  nlohmann::json publish(const std::wstring& fixture, const std::string& version) {
    fs::create_directories(releaseFolder());
    EXPECT_TRUE(
        CopyFileW(testsupport::fixtureProgram(fixture).c_str(), servedInstaller().c_str(), FALSE))
        << GetLastError();
    nlohmann::json manifest = {{"available", true},
                               {"product", "Orvanti"},
                               {"latestVersion", version},
                               {"sha256", sha256File(servedInstaller().wstring())},
                               {"sizeBytes", fs::file_size(servedInstaller())},
                               {"downloadPath", kDownloadPath}};
    writeManifest(manifest.dump());
    return manifest;
  }

  static void writeManifest(const std::string& text) {
    testsupport::writeFile((releaseFolder() / L"manifest.json").wstring(), text);
  }

  static void serviceOptions(const nlohmann::json& options) {
    testsupport::writeFile((fs::path(kServiceStateDir) / L"options.json").wstring(),
                           options.dump());
  }

  static std::uint32_t run(const std::wstring& arguments) {
    const testsupport::ProcessResult result = testsupport::runProcess(
        programPath(), L"\"" + programPath() + L"\" " + arguments, std::chrono::seconds(120));
    EXPECT_TRUE(result.finished) << "the program did not end";
    return result.exitCode;
  }

  // The per-run folders in the temporary folder.
  static std::set<std::wstring> downloadFolders() {
    std::set<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path())) {
      const std::wstring name = entry.path().filename().wstring();
      if (name.rfind(kDownloadFolderPrefix, 0) == 0) names.insert(name);
    }
    return names;
  }

  std::vector<nlohmann::json> events() const { return testsupport::eventRecordsAfter(logBefore); }
  std::vector<std::string> eventNames() const { return testsupport::eventNamesAfter(logBefore); }

  void expectNothingLeftBehind() const {
    EXPECT_EQ(downloadFolders(), foldersBefore) << "a download folder was left behind";
  }

  // Where the program put the installer it started: its per-run folder in the temporary folder.
  void expectInstallerStartedSilently(const char* modeSwitch) const {
    const std::vector<std::string> record = lines(testsupport::readFile(installerRecord));
    ASSERT_EQ(record.size(), 2u) << "the installer did not run once";
    const std::string temp = toUtf8(fs::temp_directory_path().wstring());
    const std::string& commandLine = record[0];
    const std::string prefix = "\"" + temp + toUtf8(kDownloadFolderPrefix);
    const std::string suffix = std::string("\\OrvantiSetup.exe\"") + modeSwitch + kTail;
    ASSERT_TRUE(startsWith(commandLine, prefix)) << commandLine;
    ASSERT_EQ(commandLine.size(), prefix.size() + 32 + suffix.size()) << commandLine;
    const std::string id = commandLine.substr(prefix.size(), 32);
    EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << commandLine;
    EXPECT_EQ(commandLine.substr(prefix.size() + 32), suffix);
    EXPECT_EQ(record[1], temp + toUtf8(kDownloadFolderPrefix) + id) << "working directory";
  }

  testsupport::TempFolder records;
  const std::wstring installerRecord = records.file(L"installer.txt");
  const std::wstring productRecord = records.file(L"product.txt");
  std::set<std::wstring> foldersBefore;
  size_t logBefore = 0;
};

TEST_F(EndToEndTest, InstallsUpdatesAndThenOpensTheCurrentProduct) {
  publish(L"sample-setup-1.0.0.0", "1.0.0.0");
  EXPECT_EQ(run(L"/silent"), 0u);
  EXPECT_EQ(eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
  EXPECT_EQ(events().at(0)["server"], "http://127.0.0.1:8765");
  EXPECT_EQ(events().at(1)["exitCode"], 0);
  EXPECT_EQ(events().at(1)["version"], "1.0.0.0");
  expectInstallerStartedSilently(" /VERYSILENT");
  EXPECT_EQ(readVersionString(productExecutable().wstring(), L"ProductVersion"), L"1.0.0.0");
  expectNothingLeftBehind();

  // A newer release replaces the installed product.
  publish(L"sample-setup-2.0.0.0", "2.0.0.0");
  logBefore = testsupport::eventLogLines().size();
  EXPECT_EQ(run(L""), 0u);
  EXPECT_EQ(eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
  EXPECT_EQ(events().at(1)["version"], "2.0.0.0");
  EXPECT_EQ(readVersionString(productExecutable().wstring(), L"ProductVersion"), L"2.0.0.0");
  expectNothingLeftBehind();

  // Now current: nothing is downloaded and the product is opened, alone in its own folder.
  fs::remove(installerRecord);
  logBefore = testsupport::eventLogLines().size();
  EXPECT_EQ(run(L"/verysilent"), 0u);
  EXPECT_EQ(eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_not_required",
                                      "downloader_gui_open_requested"}));
  EXPECT_EQ(events().at(1)["publishedVersion"], "2.0.0.0");
  EXPECT_FALSE(fs::exists(installerRecord)) << "an installer was started";
  ASSERT_TRUE(testsupport::pollUntil(
      [&] { return lines(testsupport::readFile(productRecord)).size() == 2; }));
  const std::vector<std::string> opened = lines(testsupport::readFile(productRecord));
  EXPECT_EQ(opened[0], "\"" + toUtf8(productExecutable().wstring()) + "\"");
  EXPECT_EQ(opened[1], toUtf8(productFolder()));
  expectNothingLeftBehind();
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
  using Arrange = std::function<void(EndToEndTest&)>;
  const auto withManifest = [](std::function<void(nlohmann::json&)> change) -> Arrange {
    return [change](EndToEndTest& t) {
      nlohmann::json manifest = t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
      change(manifest);
      writeManifest(manifest.dump());
    };
  };
  const auto withOptions = [](nlohmann::json options) -> Arrange {
    return [options](EndToEndTest& t) {
      t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
      serviceOptions(options);
    };
  };
  struct Case {
    const char* name;
    Arrange arrange;
    const char* message;  // the start of the failure's text
  };
  const Case cases[] = {
      {"manifest 404", withOptions({{"manifest_status", 404}}),
       "更新サーバーに接続できませんでした。時間をおいて再実行してください。 ("},
      {"manifest 302", withOptions({{"manifest_redirect", true}}),
       "更新サーバーに接続できませんでした。時間をおいて再実行してください。 ("},
      {"manifest over 65536 bytes",
       withManifest([](nlohmann::json& m) { m["padding"] = std::string(65536, 'x'); }),
       "更新ファイルが上限を超えました ("},
      {"not JSON", [](EndToEndTest&) { writeManifest("<html>maintenance</html>"); },
       "[json.exception.parse_error."},
      {"not available", withManifest([](nlohmann::json& m) { m["available"] = false; }),
       "Orvantiのインストーラは現在配布されていません。 ("},
      {"other product", withManifest([](nlohmann::json& m) { m["product"] = "Orvanti "; }),
       "別製品の配布情報は使用できません。 ("},
      {"three-part version", withManifest([](nlohmann::json& m) { m["latestVersion"] = "1.0.0"; }),
       "配布バージョンが不正です。 ("},
      {"unparsable version",
       withManifest([](nlohmann::json& m) { m["latestVersion"] = "1.0.0.x"; }),
       "Invalid version ("},
      {"short digest", withManifest([](nlohmann::json& m) {
         m["sha256"] = m["sha256"].get<std::string>().substr(1);
       }),
       "配布ファイルのハッシュ情報が不正です。 ("},
      {"size as text", withManifest([](nlohmann::json& m) { m["sizeBytes"] = "1024"; }),
       "配布サイズが不正です。 ("},
      {"size over the limit", withManifest([](nlohmann::json& m) { m["sizeBytes"] = 268435457; }),
       "配布サイズが上限を超えています。 ("},
      {"other download path", withManifest([](nlohmann::json& m) {
         m["downloadPath"] = std::string(kDownloadPath) + "/";
       }),
       "許可されていないダウンロード先です。 ("},
      {"installer 404", withOptions({{"installer_status", 404}}),
       "Orvantiのダウンロードに失敗しました。 ("},
      {"installer redirected", withOptions({{"installer_redirect", true}}),
       "Orvantiのダウンロードに失敗しました。 ("},
      {"installer of the wrong size",
       withManifest([](nlohmann::json& m) { m["sizeBytes"] = m["sizeBytes"].get<int>() + 1; }),
       "インストーラのサイズが一致しません。 ("},
      {"one byte changed on the way",
       [](EndToEndTest& t) {
         t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
         std::string bytes = testsupport::readFile(servedInstaller().wstring());
         bytes[78] ^= 0x20;
         testsupport::writeFile(servedInstaller().wstring(), bytes);
       },
       "インストーラのハッシュが一致しません。 ("},
      {"unsigned", [](EndToEndTest& t) { t.publish(L"installer-unsigned", "1.2.0.0"); },
       "インストーラの発行元署名を確認できません。 ("},
      {"signed by another publisher",
       [](EndToEndTest& t) { t.publish(L"installer-other-signer", "1.2.0.0"); },
       "インストーラの発行元署名を確認できません。 ("},
      {"changed after signing",
       [](EndToEndTest& t) { t.publish(L"installer-tampered", "1.2.0.0"); },
       "インストーラの発行元署名を確認できません。 ("},
      {"other version in the resource",
       [](EndToEndTest& t) { t.publish(L"sample-setup-1.0.0.0", "1.0.0.1"); },
       "インストーラの製品またはバージョンが一致しません。 ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    resetServiceAndProduct();
    fs::remove(installerRecord);
    c.arrange(*this);
    logBefore = testsupport::eventLogLines().size();

    EXPECT_EQ(run(L"/silent"), 1u);
    ASSERT_EQ(eventNames(), (std::vector<std::string>{"downloader_started", "downloader_failed"}));
    const nlohmann::json failed = events().at(1);
    EXPECT_EQ(failed["exitCode"], 1);
    EXPECT_TRUE(startsWith(failed["message"].get<std::string>(), c.message)) << failed.dump();
    EXPECT_FALSE(fs::exists(installerRecord)) << "an installer was started";
    EXPECT_FALSE(fs::exists(productExecutable()));
    expectNothingLeftBehind();
  }
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
         writeManifest(manifest.dump());
       }},
      {"manifest of another product",
       [](EndToEndTest& t) {
         nlohmann::json manifest = t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
         manifest["product"] = "orvanti";
         writeManifest(manifest.dump());
       }},
      {"manifest not JSON",
       [](EndToEndTest& t) {
         t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
         writeManifest("{\"available\": true,}");
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
