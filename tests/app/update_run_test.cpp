// The update run driven through its seam: the collaborators are fakes that write what happens into
// one journal, so each test can check the whole order of events, status texts and releases. The
// real collaborators are exercised end to end elsewhere; here the paths are reached that the real
// parts cannot be made to take on demand (a cancel at an exact moment, an installer code of 5).
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/update_run.h"
#include "common/text.h"
#include "common/user_error.h"
#include "ui/download_window.h"

namespace {

using Journal = std::vector<std::string>;

constexpr char kServer[] = "https://updates.example.test";
constexpr wchar_t kFolder[] = L"C:\\run-folder";
constexpr wchar_t kProduct[] = L"C:\\product";
constexpr wchar_t kInstaller[] = L"C:\\run-folder\\OrvantiSetup.exe";
constexpr char kCancelled[] = "ダウンロードを中止しました。";

// The run posts to the window's hwnd; with no window that is this thread's own queue, so the posts
// can be read back here in the order they were made.
void drainPosts(Journal& journal) {
  MSG msg;
  while (PeekMessageW(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE)) {
    if (msg.message == WM_STATUS_TEXT) {
      auto* text = reinterpret_cast<std::wstring*>(msg.lParam);
      journal.push_back("status " + toUtf8(*text));
      delete text;
    } else if (msg.message == WM_RUN_FINISHED) {
      journal.push_back("finished");
    }
  }
}

class JournalFolder final : public RunFolder {
 public:
  explicit JournalFolder(Journal& journal) : journal_(journal) {}
  ~JournalFolder() override {
    drainPosts(journal_);
    journal_.push_back("folder released");
  }
  const std::wstring& path() const override { return path_; }

 private:
  Journal& journal_;
  std::wstring path_ = kFolder;
};

std::string event(const std::string& name, const nlohmann::json& fields) {
  return "event " + name + " " + fields.dump();
}

ReleaseInfo manifest(const char* version) { return ReleaseInfo{{"latestVersion", version}}; }

// One run with fakes whose behaviour each test replaces where it needs to.
class UpdateRunTest : public testing::Test {
 public:  // the case tables below arrange the fakes from outside
  UpdateRunTest() {
    ops.serverUrl = kServer;
    ops.appendEvent = [this](const std::string& name, nlohmann::json fields) {
      drainPosts(journal);
      journal.push_back(event(name, fields));
    };
    ops.createDownloadFolder = [this] { return std::make_unique<JournalFolder>(journal); };
    ops.productFolder = [] { return std::wstring(kProduct); };
    ops.checkAndDownload = [this](const std::wstring& baseUrl, const std::wstring& folder,
                                  const StatusCallback& onStatus, const CancelQuery& isCancelled,
                                  const std::wstring& product) {
      EXPECT_EQ(baseUrl, toUtf16(kServer));
      EXPECT_EQ(folder, kFolder);
      EXPECT_EQ(product, kProduct);
      onStatus(L"確認中");
      return check(isCancelled);
    };
    ops.isSetupRequired = [this](const ReleaseInfo& release, const std::wstring& product) {
      EXPECT_EQ(product, kProduct);
      drainPosts(journal);
      journal.push_back("isSetupRequired " + release.dump());
      return secondAnswer;
    };
    ops.runInstaller = [this](const UpdateCheckResult& result, bool silent,
                              const std::function<void()>& beforeInstallerStart) {
      EXPECT_EQ(result.installerPath, kInstaller);
      EXPECT_EQ(silent, silentRun);
      beforeInstallerStart();
      EXPECT_TRUE(window.runState.installing());
      drainPosts(journal);
      journal.push_back("installer started");
      return install();
    };
    ops.openInstalledProduct = [this](const std::wstring& product) {
      EXPECT_EQ(product, kProduct);
      drainPosts(journal);
      journal.push_back("product opened");
      return open();
    };
  }

  // A fresh run on the same object: the fields as the entry creates them.
  void reset() {
    window.runState.reset();
    window.exitCode = 1;
    window.message.clear();
    journal.clear();
  }

  void perform(bool silent) {
    silentRun = silent;
    window.perform(silent, ops);
    drainPosts(journal);
  }

  // Fakes' behaviour: by default the product is current and opens.
  std::function<UpdateCheckResult(const CancelQuery&)> check = [](const CancelQuery&) {
    return UpdateCheckResult{L"", manifest("2.0.0.0")};
  };
  bool secondAnswer = true;
  std::function<std::uint32_t()> install = [] { return 0u; };
  std::function<HANDLE()> open = [] { return HANDLE(nullptr); };

  DownloadWindow window;
  UpdateRunOperations ops;
  Journal journal;
  bool silentRun = true;
};

const std::string kStarted = event("downloader_started", {{"server", kServer}});

TEST_F(UpdateRunTest, CurrentProductIsOpenedAndItsHandleClosed) {
  // A real handle, so that closing it can be observed.
  const HANDLE product = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  open = [product] { return product; };

  perform(false);

  EXPECT_EQ(journal,
            (Journal{kStarted, "status 確認中",
                     event("downloader_setup_not_required", {{"publishedVersion", "2.0.0.0"}}),
                     "status インストール済みのオルバンティを開いています...", "product opened",
                     event("downloader_gui_open_requested", nlohmann::json::object()),
                     "folder released", "finished"}));
  EXPECT_EQ(window.exitCode, 0u);
  EXPECT_EQ(window.message, L"");
  DWORD flags = 0;
  EXPECT_FALSE(GetHandleInformation(product, &flags)) << "the product's handle was left open";
}

TEST_F(UpdateRunTest, SilentRunPostsNothing) {
  check = [](const CancelQuery&) { return UpdateCheckResult{kInstaller, manifest("3.0.0.0")}; };
  perform(true);

  EXPECT_EQ(
      journal,
      (Journal{kStarted, "isSetupRequired {\"latestVersion\":\"3.0.0.0\"}", "installer started",
               event("downloader_setup_finished", {{"exitCode", 0}, {"version", "3.0.0.0"}}),
               "folder released"}));
  EXPECT_EQ(window.exitCode, 0u);
}

TEST_F(UpdateRunTest, InstallerCodeIsPassedOnAndExplainedUnlessSuccessOrRestart) {
  struct Case {
    std::uint32_t code;
    const wchar_t* message;
  };
  const Case cases[] = {
      {0, L""},
      {3010, L""},
      {5, L"インストールが完了しませんでした。終了コード: 5"},
      {4294967295u, L"インストールが完了しませんでした。終了コード: 4294967295"},
      {0xC0000005u, L"インストールが完了しませんでした。終了コード: 3221225477"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    reset();
    check = [](const CancelQuery&) { return UpdateCheckResult{kInstaller, manifest("3.0.0.0")}; };
    install = [&c] { return c.code; };
    perform(false);

    EXPECT_EQ(
        journal,
        (Journal{kStarted, "status 確認中", "isSetupRequired {\"latestVersion\":\"3.0.0.0\"}",
                 "status オルバンティをインストールしています...", "installer started",
                 event("downloader_setup_finished", {{"exitCode", c.code}, {"version", "3.0.0.0"}}),
                 "folder released", "finished"}));
    EXPECT_EQ(window.exitCode, c.code);
    EXPECT_EQ(window.message, c.message);
  }
}

TEST_F(UpdateRunTest, SecondDecisionAgainstSetupOpensTheProductInstead) {
  check = [](const CancelQuery&) { return UpdateCheckResult{kInstaller, manifest("3.0.0.0")}; };
  secondAnswer = false;
  perform(true);

  EXPECT_EQ(
      journal,
      (Journal{kStarted, "isSetupRequired {\"latestVersion\":\"3.0.0.0\"}",
               event("downloader_setup_not_required", {{"publishedVersion", "3.0.0.0"}}),
               "product opened", event("downloader_gui_open_requested", nlohmann::json::object()),
               "folder released"}));
  EXPECT_EQ(window.exitCode, 0u);
}

TEST_F(UpdateRunTest, MissingOrNonTextVersionIsLoggedAsEmpty) {
  check = [](const CancelQuery&) {
    return UpdateCheckResult{L"", ReleaseInfo{{"latestVersion", 7}}};
  };
  perform(true);
  EXPECT_EQ(journal[1], event("downloader_setup_not_required", {{"publishedVersion", ""}}));
}

TEST_F(UpdateRunTest, CancelDuringTheCheckFailsWith1223AfterTheFolderIsGone) {
  check = [this](const CancelQuery& isCancelled) -> UpdateCheckResult {
    window.runState.requestCancel();
    ensure(!isCancelled(), kCancelled);
    return {};
  };
  perform(false);

  ASSERT_EQ(journal.size(), 5u);
  EXPECT_EQ(journal[2], "folder released");
  const nlohmann::json failed = nlohmann::json::parse(journal[3].substr(journal[3].find('{')));
  EXPECT_EQ(journal[3].rfind("event downloader_failed ", 0), 0u);
  EXPECT_EQ(failed["exitCode"], 1223);
  EXPECT_EQ(failed["message"].get<std::string>().rfind(std::string(kCancelled) + " (", 0), 0u);
  EXPECT_EQ(journal[4], "finished");
  EXPECT_EQ(window.exitCode, 1223u);
  EXPECT_EQ(toUtf8(window.message), failed["message"].get<std::string>());
}

TEST_F(UpdateRunTest, CancelBeforeOpeningLeavesTheProductClosed) {
  check = [this](const CancelQuery&) {
    window.runState.requestCancel();  // pressed just after the check found the product current
    return UpdateCheckResult{L"", manifest("2.0.0.0")};
  };
  perform(false);

  ASSERT_EQ(journal.size(), 6u);
  EXPECT_EQ(journal[2], event("downloader_setup_not_required", {{"publishedVersion", "2.0.0.0"}}));
  EXPECT_EQ(journal[3], "folder released");
  EXPECT_EQ(journal[4].rfind("event downloader_failed {\"exitCode\":1223,\"message\":\"" +
                                 std::string(kCancelled) + " (",
                             0),
            0u)
      << journal[4];
  EXPECT_EQ(window.exitCode, 1223u);
}

TEST_F(UpdateRunTest, CancelRefusedByTheLastCheckBeforeTheInstallerStarts) {
  check = [](const CancelQuery&) { return UpdateCheckResult{kInstaller, manifest("3.0.0.0")}; };
  ops.runInstaller = [this](const UpdateCheckResult&, bool,
                            const std::function<void()>& beforeInstallerStart) -> std::uint32_t {
    window.runState.requestCancel();
    beforeInstallerStart();
    journal.push_back("installer started");
    return 0;
  };
  perform(false);

  EXPECT_EQ(std::count(journal.begin(), journal.end(), "installer started"), 0);
  EXPECT_FALSE(window.runState.installing());
  EXPECT_EQ(window.exitCode, 1223u);
}

TEST_F(UpdateRunTest, CancelAfterTheInstallerStartedOrTheProductOpenedChangesNothing) {
  check = [](const CancelQuery&) { return UpdateCheckResult{kInstaller, manifest("3.0.0.0")}; };
  install = [this] {
    window.runState.requestCancel();
    return 3010u;
  };
  perform(false);
  EXPECT_EQ(window.exitCode, 3010u);

  reset();
  check = [](const CancelQuery&) { return UpdateCheckResult{L"", manifest("2.0.0.0")}; };
  open = [this] {
    window.runState.requestCancel();
    return HANDLE(nullptr);
  };
  perform(true);
  EXPECT_EQ(window.exitCode, 0u);
  EXPECT_EQ(journal.back(), "folder released");
  EXPECT_EQ(journal[journal.size() - 2],
            event("downloader_gui_open_requested", nlohmann::json::object()));
}

TEST_F(UpdateRunTest, FailuresOfEveryKindEndWithOneRecordAndTheirText) {
  struct Case {
    const char* name;
    std::function<void(UpdateRunTest&)> arrange;
    bool cancelSet;
    std::uint32_t exitCode;
    std::string message;
  };
  const Case cases[] = {
      {"system failure",
       [](UpdateRunTest& t) {
         t.check = [](const CancelQuery&) -> UpdateCheckResult {
           SetLastError(12029);
           ensure(false, "更新サーバーに接続できませんでした。");
           return {};
         };
       },
       false, 1, "更新サーバーに接続できませんでした。 (12029)"},
      {"network failure after Cancel was pressed",
       [](UpdateRunTest& t) {
         t.check = [&t](const CancelQuery&) -> UpdateCheckResult {
           t.window.runState.requestCancel();
           throw std::runtime_error("connection reset");
         };
       },
       true, 1223, "connection reset"},
      {"library failure",
       [](UpdateRunTest& t) {
         t.check = [](const CancelQuery&) -> UpdateCheckResult {
           return {L"", nlohmann::json::parse("{")};
         };
       },
       false, 1, ""},
      {"download folder cannot be made",
       [](UpdateRunTest& t) {
         t.ops.createDownloadFolder = []() -> std::unique_ptr<RunFolder> {
           throw UserError("ダウンロード用フォルダを作成できません。 (5)");
         };
       },
       false, 1, "ダウンロード用フォルダを作成できません。 (5)"},
      {"installer run fails",
       [](UpdateRunTest& t) {
         t.check = [](const CancelQuery&) {
           return UpdateCheckResult{kInstaller, manifest("3.0.0.0")};
         };
         t.install = []() -> std::uint32_t {
           throw UserError("インストーラを起動できません。 (2)");
         };
       },
       false, 1, "インストーラを起動できません。 (2)"},
      {"second decision fails",
       [](UpdateRunTest& t) {
         t.check = [](const CancelQuery&) {
           return UpdateCheckResult{kInstaller, manifest("3.0.0.0")};
         };
         t.ops.isSetupRequired = [](const ReleaseInfo&, const std::wstring&) -> bool {
           throw UserError("Invalid version (0)");
         };
       },
       false, 1, "Invalid version (0)"},
  };
  const UpdateRunOperations pristine = ops;
  const auto pristineCheck = check;
  const auto pristineInstall = install;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ops = pristine;
    check = pristineCheck;
    install = pristineInstall;
    reset();
    c.arrange(*this);

    perform(true);

    ASSERT_GE(journal.size(), 2u);
    const std::string& last = journal.back();
    ASSERT_EQ(last.rfind("event downloader_failed ", 0), 0u) << last;
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& entry) {
                              return entry.rfind("event downloader_failed", 0) == 0;
                            }),
              1);
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& entry) {
                              return entry.rfind("event downloader_setup_finished", 0) == 0;
                            }),
              0);
    const nlohmann::json record = nlohmann::json::parse(last.substr(last.find('{')));
    EXPECT_EQ(record["exitCode"], c.exitCode);
    EXPECT_EQ(window.exitCode, c.exitCode);
    const std::string text = record["message"].get<std::string>();
    if (c.message.empty()) {
      EXPECT_NE(text.find("parse error"), std::string::npos) << text;
    } else {
      EXPECT_EQ(text, c.message);
    }
    EXPECT_EQ(toUtf8(window.message), text);
  }
}

TEST_F(UpdateRunTest, FailureTextThatIsNotUtf8StillEndsTheRunInOrder) {
  check = [](const CancelQuery&) -> UpdateCheckResult {
    throw std::runtime_error("\x82\xb1\x82\xea\xff disk");  // another code page's bytes
  };
  perform(false);

  ASSERT_EQ(journal.size(), 5u);
  EXPECT_EQ(journal[2], "folder released");
  const nlohmann::json record = nlohmann::json::parse(journal[3].substr(journal[3].find('{')));
  EXPECT_EQ(record["exitCode"], 1);
  const std::string text = record["message"].get<std::string>();
  EXPECT_NE(text.find(" disk"), std::string::npos);
  EXPECT_NO_THROW(toUtf16(text)) << "the record must hold valid UTF-8";
  EXPECT_FALSE(window.message.empty());
  EXPECT_EQ(journal[4], "finished");
  EXPECT_EQ(window.exitCode, 1u);
}

}  // namespace
