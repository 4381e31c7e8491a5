#include "tests/e2e/release_run.h"

#include <utility>

#include "common/sha256.h"
#include "common/text.h"
#include "common/version_resource.h"
#include "install/installed_product.h"
#include "tests/support/fixture_programs.h"
#include "tests/support/run_observation.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

constexpr char kTail[] = " /SUPPRESSMSGBOXES /NORESTART /SP-";
constexpr wchar_t kDownloadFolderPrefix[] = L"OrvantiDownloader-";

}  // namespace

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

ReleaseRunTest::ReleaseRunTest(std::wstring program, fs::path serviceStateDir)
    : program(std::move(program)), serviceState(std::move(serviceStateDir)) {}

void ReleaseRunTest::SetUp() {
  resetServiceAndProduct();
  SetEnvironmentVariableW(L"ORVANTI_FIXTURE_INSTALLER_RECORD", installerRecord.c_str());
  SetEnvironmentVariableW(L"ORVANTI_FIXTURE_PRODUCT_RECORD", productRecord.c_str());
  SetEnvironmentVariableW(L"ORVANTI_FIXTURE_INSTALLER_EXIT_CODE", nullptr);
  foldersBefore = downloadFolders();
  logBefore = testsupport::eventLogLines().size();
}

void ReleaseRunTest::TearDown() { resetServiceAndProduct(); }

void ReleaseRunTest::resetServiceAndProduct() {
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(releaseFolder(), ignored)) {
    fs::remove_all(entry.path(), ignored);
  }
  fs::remove(productExecutable(), ignored);
}

fs::path ReleaseRunTest::productExecutable() { return fs::path(productFolder()) / L"Orvanti.exe"; }

nlohmann::json ReleaseRunTest::publish(const std::wstring& fixture, const std::string& version) {
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

void ReleaseRunTest::writeManifest(const std::string& text) const {
  testsupport::writeFile((releaseFolder() / L"manifest.json").wstring(), text);
}

std::uint32_t ReleaseRunTest::run(const std::wstring& arguments) const {
  const testsupport::ProcessResult result = testsupport::runProcess(
      program, L"\"" + program + L"\" " + arguments, std::chrono::seconds(120));
  EXPECT_TRUE(result.finished) << "the program did not end";
  return result.exitCode;
}

std::set<std::wstring> ReleaseRunTest::downloadFolders() {
  std::set<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(fs::temp_directory_path())) {
    const std::wstring name = entry.path().filename().wstring();
    if (name.rfind(kDownloadFolderPrefix, 0) == 0) names.insert(name);
  }
  return names;
}

std::vector<nlohmann::json> ReleaseRunTest::events() const {
  return testsupport::eventRecordsAfter(logBefore);
}

std::vector<std::string> ReleaseRunTest::eventNames() const {
  return testsupport::eventNamesAfter(logBefore);
}

void ReleaseRunTest::expectNothingLeftBehind() const {
  EXPECT_EQ(downloadFolders(), foldersBefore) << "a download folder was left behind";
}

void ReleaseRunTest::expectInstallerStartedSilently(const char* modeSwitch) const {
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

void ReleaseRunTest::installUpdateAndOpen(const std::string& server) {
  publish(L"sample-setup-1.0.0.0", "1.0.0.0");
  EXPECT_EQ(run(L"/silent"), 0u);
  EXPECT_EQ(eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
  EXPECT_EQ(events().at(0)["server"], server);
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
  EXPECT_EQ(events().at(0)["server"], server);
  EXPECT_EQ(events().at(1)["version"], "2.0.0.0");
  EXPECT_EQ(readVersionString(productExecutable().wstring(), L"ProductVersion"), L"2.0.0.0");
  expectNothingLeftBehind();

  // Now current: nothing is downloaded and the product is opened, alone in its own folder.
  std::error_code ignored;
  fs::remove(installerRecord, ignored);
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

std::vector<ReleaseRunTest::Refusal> ReleaseRunTest::servedContentRefusals() {
  using Arrange = std::function<void(ReleaseRunTest&)>;
  const auto withManifest = [](std::function<void(nlohmann::json&)> change) -> Arrange {
    return [change](ReleaseRunTest& t) {
      nlohmann::json manifest = t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
      change(manifest);
      t.writeManifest(manifest.dump());
    };
  };
  return {
      {"manifest over 65536 bytes",
       withManifest([](nlohmann::json& m) { m["padding"] = std::string(65536, 'x'); }),
       "更新ファイルが上限を超えました ("},
      {"not JSON", [](ReleaseRunTest& t) { t.writeManifest("<html>maintenance</html>"); },
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
      {"installer of the wrong size",
       withManifest([](nlohmann::json& m) { m["sizeBytes"] = m["sizeBytes"].get<int>() + 1; }),
       "インストーラのサイズが一致しません。 ("},
      {"one byte changed on the way",
       [](ReleaseRunTest& t) {
         t.publish(L"sample-setup-1.0.0.0", "1.0.0.0");
         std::string bytes = testsupport::readFile(t.servedInstaller().wstring());
         bytes[78] ^= 0x20;
         testsupport::writeFile(t.servedInstaller().wstring(), bytes);
       },
       "インストーラのハッシュが一致しません。 ("},
      {"unsigned", [](ReleaseRunTest& t) { t.publish(L"installer-unsigned", "1.2.0.0"); },
       "インストーラの発行元署名を確認できません。 ("},
      {"signed by another publisher",
       [](ReleaseRunTest& t) { t.publish(L"installer-other-signer", "1.2.0.0"); },
       "インストーラの発行元署名を確認できません。 ("},
      {"changed after signing",
       [](ReleaseRunTest& t) { t.publish(L"installer-tampered", "1.2.0.0"); },
       "インストーラの発行元署名を確認できません。 ("},
      {"other version in the resource",
       [](ReleaseRunTest& t) { t.publish(L"sample-setup-1.0.0.0", "1.0.0.1"); },
       "インストーラの製品またはバージョンが一致しません。 ("},
  };
}

void ReleaseRunTest::expectRefused(const Refusal& refusal) {
  SCOPED_TRACE(refusal.name);
  resetServiceAndProduct();
  std::error_code ignored;
  fs::remove(installerRecord, ignored);
  refusal.arrange(*this);
  logBefore = testsupport::eventLogLines().size();

  EXPECT_EQ(run(L"/silent"), 1u);
  ASSERT_EQ(eventNames(), (std::vector<std::string>{"downloader_started", "downloader_failed"}));
  const nlohmann::json failed = events().at(1);
  EXPECT_EQ(failed["exitCode"], 1);
  EXPECT_TRUE(startsWith(failed["message"].get<std::string>(), refusal.message)) << failed.dump();
  EXPECT_FALSE(fs::exists(installerRecord)) << "an installer was started";
  EXPECT_FALSE(fs::exists(productExecutable()));
  expectNothingLeftBehind();
}

}  // namespace e2e
