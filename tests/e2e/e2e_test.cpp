// The real program under Wine against the local update service (tools/update_service.py, started
// by the test set-up on the address compiled into the dev build). Each test publishes a release
// into the service's folder, may make the service misbehave through its options file, runs the
// program as a child process and looks at what a user or an administrator would see: the exit
// code, the event log, the installed product, the records of the started installer and product,
// and the temporary folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
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
#include "late_bound_dlls.h"
#include "tests/support/fixture_programs.h"
#include "tests/support/run_observation.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr char kDownloadPath[] = "/tov/v2/client/client-updates/orvanti/download";
constexpr char kTail[] = " /SUPPRESSMSGBOXES /NORESTART /SP-";
constexpr wchar_t kDownloadFolderPrefix[] = L"OrvantiDownloader-";

std::wstring programPath() { return testsupport::binDirectory() + L"\\OrvantiDownloader.exe"; }
fs::path releaseFolder() { return fs::path(kServiceStateDir) / L"release"; }
fs::path servedInstaller() { return releaseFolder() / L"OrvantiSetup.exe"; }
fs::path productExecutable() { return fs::path(productFolder()) / L"Orvanti.exe"; }

// Wine's DLL load order for one program (by file name) while the object lives: `mode` for the
// named DLLs (without ".dll"). "native,builtin" makes Wine take a DLL file found on the search
// path before its built-in one, as Windows does for a DLL that is not a KnownDLL; "" makes the
// DLL unavailable. Wine takes WINEDLLOVERRIDES only from the environment that a Linux process
// gave it, not from one that a Windows program passes to its child; this per-program key of the
// prefix has the same meaning (measured 2026-12-11).
class ScopedWineDllOverrides {
 public:
  ScopedWineDllOverrides(const std::wstring& program, const std::vector<std::wstring>& dlls,
                         const std::wstring& mode)
      : key_(L"Software\\Wine\\AppDefaults\\" + program) {
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());  // one left by an interrupted run
    HKEY overrides = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &overrides, nullptr),
              ERROR_SUCCESS);
    for (const std::wstring& dll : dlls) {
      const std::wstring name = dll.substr(0, dll.size() - 4);  // without ".dll"
      EXPECT_EQ(RegSetValueExW(overrides, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(mode.c_str()),
                               static_cast<DWORD>((mode.size() + 1) * sizeof(wchar_t))),
                ERROR_SUCCESS);
    }
    RegCloseKey(overrides);
  }
  ~ScopedWineDllOverrides() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
  ScopedWineDllOverrides(const ScopedWineDllOverrides&) = delete;
  ScopedWineDllOverrides& operator=(const ScopedWineDllOverrides&) = delete;

 private:
  std::wstring key_;
};

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

// Wine's own user32.dll imports version.dll (Windows' user32 is a KnownDLL and imports none but
// KnownDLLs), so under Wine a version.dll beside any GUI program is loaded with user32, and one
// that is unavailable stops every such program at its start, whatever the program does. The
// downloader treats version.dll like the other late-bound DLLs (and imports it statically no
// more: ResourcesTest.ProgramsImportOnlyKnownDllsAndAskForAslrAndDep), but Wine cannot show it.
std::vector<std::wstring> lateBoundDllsThatWineCanShow() {
  std::vector<std::wstring> dlls;
  for (const wchar_t* dll : kLateBoundDlls) {
    if (std::wstring(dll) != L"version.dll") dlls.push_back(dll);
  }
  return dlls;
}

// Files left beside the program under the names of the system DLLs that it uses and that are not
// KnownDLLs (so that Windows would look for them there first) are never loaded: every such DLL is
// late-bound from the system folder, and comctl32 comes from the side-by-side store.
TEST_F(EndToEndTest, DllsPlantedBesideTheProgramAreNeverLoaded) {
  std::vector<std::wstring> planted = lateBoundDllsThatWineCanShow();
  planted.push_back(L"comctl32.dll");
  // A Downloads folder: the program, the planted files, and the current directory of the run.
  const testsupport::TempFolder downloads;
  const std::wstring program = downloads.file(L"OrvantiDownloader.exe");
  ASSERT_TRUE(CopyFileW(programPath().c_str(), program.c_str(), FALSE)) << GetLastError();
  for (const std::wstring& name : planted) {
    ASSERT_TRUE(CopyFileW((testsupport::binDirectory() + L"\\fixtures\\planted.dll").c_str(),
                          downloads.file(name).c_str(), FALSE))
        << GetLastError();
  }
  const ScopedWineDllOverrides overrides(L"OrvantiDownloader.exe", planted, L"native,builtin");
  const ScopedWineDllOverrides controlOverrides(L"imports-winhttp.exe", planted, L"native,builtin");
  const auto loadedPlants = [&] {
    std::vector<std::wstring> markers;
    for (const auto& entry : fs::directory_iterator(downloads.path())) {
      // Wine names the file as the import spelt it: WINHTTP.dll or winhttp.dll.
      std::wstring name = entry.path().filename().wstring();
      for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
      if (entry.path().extension() == L".loaded") markers.push_back(name);
    }
    return markers;
  };
  const auto runThere = [&](const std::wstring& path) {
    const testsupport::ProcessResult result = testsupport::runProcess(
        path, L"\"" + path + L"\" /silent", std::chrono::seconds(120), downloads.path());
    EXPECT_TRUE(result.finished);
    return result.exitCode;
  };

  // The planted files are live: a program that imports winhttp.dll statically loads the one
  // beside it (which refuses to load, so the program does not start).
  const std::wstring control = downloads.file(L"imports-winhttp.exe");
  ASSERT_TRUE(
      CopyFileW(testsupport::fixtureProgram(L"imports-winhttp").c_str(), control.c_str(), FALSE))
      << GetLastError();
  EXPECT_NE(runThere(control), 0u);
  ASSERT_EQ(loadedPlants(), (std::vector<std::wstring>{L"winhttp.dll.loaded"}));
  for (const auto& entry : fs::directory_iterator(downloads.path())) {
    if (entry.path().extension() == L".loaded") fs::remove(entry.path());
  }

  // A fresh install, then the current product opened: the runs end as they would without the
  // planted files.
  publish(L"sample-setup-1.0.0.0", "1.0.0.0");
  EXPECT_EQ(runThere(program), 0u);
  EXPECT_EQ(eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
  EXPECT_EQ(readVersionString(productExecutable().wstring(), L"ProductVersion"), L"1.0.0.0");
  logBefore = testsupport::eventLogLines().size();
  EXPECT_EQ(runThere(program), 0u);
  EXPECT_EQ(eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_not_required",
                                      "downloader_gui_open_requested"}));
  EXPECT_EQ(loadedPlants(), std::vector<std::wstring>{}) << "a planted DLL was loaded";
  expectNothingLeftBehind();
}

// A late-bound system DLL that cannot be loaded fails the run like any other failure, naming the
// DLL: exit code 1 and a "downloader_failed" record, not a crash of the first call into it.
TEST_F(EndToEndTest, MissingSystemDllFailsTheRunWithItsName) {
  publish(L"sample-setup-1.0.0.0", "1.0.0.0");
  // A copy under a name of its own, so that no other program run ever sees the DLL taken away.
  const testsupport::TempFolder folder;
  const std::wstring name = L"OrvantiDownloader-missing-dll.exe";
  const std::wstring program = folder.file(name);
  ASSERT_TRUE(CopyFileW(programPath().c_str(), program.c_str(), FALSE)) << GetLastError();
  for (const std::wstring& file : lateBoundDllsThatWineCanShow()) {
    SCOPED_TRACE(toUtf8(file));
    fs::remove(installerRecord);
    const ScopedWineDllOverrides overrides(name, {file}, L"");
    logBefore = testsupport::eventLogLines().size();

    const testsupport::ProcessResult result = testsupport::runProcess(
        program, L"\"" + program + L"\" /silent", std::chrono::seconds(120));
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1u) << std::hex << result.exitCode;
    ASSERT_EQ(eventNames(), (std::vector<std::string>{"downloader_started", "downloader_failed"}));
    EXPECT_EQ(events().at(1)["exitCode"], 1);
    EXPECT_TRUE(startsWith(events().at(1)["message"].get<std::string>(),
                           "システムファイル " + toUtf8(file) + " を読み込めませんでした。 ("))
        << events().at(1).dump();
    EXPECT_FALSE(fs::exists(installerRecord)) << "an installer was started";
    expectNothingLeftBehind();
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
