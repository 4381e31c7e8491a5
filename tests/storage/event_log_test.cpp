// These tests run in a Wine prefix of their own (see CMakeLists.txt), so that they may remove the
// real log folders under ProgramData and LocalAppData before and after each case. Each case needs a
// process of its own, as ctest runs them: the log folder is resolved once per process.
#include "storage/event_log.h"

#include <windows.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/unique_resource.h"
#include "storage/download_folder.h"
#include "storage/event_record.h"
#include "storage/private_folder.h"
#include "tests/storage/folder_access.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using nlohmann::json;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// Compares file contents of megabytes without printing them.
::testing::AssertionResult sameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "contents differ: " << actual.size()
                                       << " bytes, expected " << expected.size() << " bytes";
}

// The record with its time stamp replaced by T, for comparing whole lines.
std::string withoutTime(const std::string& line) {
  return std::regex_replace(line, std::regex(R"("utcMs":[0-9]+)"), R"("utcMs":T)");
}

std::string unixPath(const fs::path& path) {
  using Convert = char*(__cdecl*)(const wchar_t*);
  const auto convert = reinterpret_cast<Convert>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (convert == nullptr) throw std::runtime_error("not running under Wine");
  char* text = convert(path.c_str());
  std::string result(text);
  HeapFree(GetProcessHeap(), 0, text);
  return result;
}

// Runs a Linux program (Wine starts it; its handle cannot be waited for) and polls for its effect.
// CreateSymbolicLinkW creates nothing under Wine, so links are made this way.
void runUnix(const std::wstring& program, const std::string& arguments,
             const std::function<bool()>& done) {
  std::wstring commandLine = program + L" " + fs::path(arguments).wstring();
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW((L"Z:\\bin\\" + program).c_str(), commandLine.data(), nullptr, nullptr,
                             FALSE, 0, nullptr, nullptr, &startup, &info));
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  ASSERT_TRUE(testsupport::pollUntil(done)) << fs::path(commandLine).string();
}

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override { removeLogFolders(); }
  void TearDown() override { removeLogFolders(); }

  void removeLogFolders() {
    std::error_code ignored;
    fs::remove_all(programDataProduct, ignored);
    fs::remove_all(localProduct, ignored);
  }

  // The per-user folder as the program makes it: with the private descriptor. One made without
  // it admits others and is not used.
  void createUserFolder() {
    fs::create_directories(privateFolder.parent_path());
    createPrivateDirectory(privateFolder.wstring(), sid, "test");
    ASSERT_TRUE(fs::is_directory(privateFolder));
  }

  const std::wstring sid = currentUserSid();
  const fs::path programDataProduct = fs::path(knownFolderPath(FOLDERID_ProgramData)) / L"Zarn";
  const fs::path localProduct = fs::path(knownFolderPath(FOLDERID_LocalAppData)) / L"Zarn";
  const fs::path privateFolder = programDataProduct / L"Orvanti" / sid;
  const fs::path fallbackFolder = localProduct / L"Orvanti" / L"logs";
  const fs::path current = privateFolder / L"client.jsonl";
  const fs::path previous = privateFolder / L"client.previous.jsonl";
};

TEST_F(EventLogTest, FirstAppendCreatesThePrivateFolderAndOneLine) {
  const std::int64_t before = currentUtcMs();
  EventLog::append("downloader_started", {{"server", "https://127.0.0.1:8443"}});
  const std::int64_t after = currentUtcMs();

  ASSERT_TRUE(fs::is_directory(privateFolder));
  EXPECT_TRUE(admitsOnlySystemAdministratorsAnd(privateFolder.wstring(), sid));
  const std::string text = readFile(current.wstring());
  ASSERT_EQ(lines(text).size(), 1u) << text;
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(
      withoutTime(text),
      "{\"event\":\"downloader_started\",\"server\":\"https://127.0.0.1:8443\",\"utcMs\":T}\n");
  const std::int64_t utcMs = json::parse(text).at("utcMs").get<std::int64_t>();
  EXPECT_GE(utcMs, before);
  EXPECT_LE(utcMs, after);
  // Only the log is left: the probe file is gone and the fallback was not needed.
  EXPECT_EQ(std::distance(fs::directory_iterator(privateFolder), fs::directory_iterator()), 1);
  EXPECT_FALSE(fs::exists(localProduct));
}

TEST_F(EventLogTest, RecordsHaveSortedKeysTheWritersFieldsAndUtf8Text) {
  struct Case {
    const char* event;
    json fields;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"downloader_gui_open_requested", json::object(),
       R"({"event":"downloader_gui_open_requested","utcMs":T})"},
      {"downloader_failed",
       {{"message", "x"}, {"exitCode", 1}},
       R"({"event":"downloader_failed","exitCode":1,"message":"x","utcMs":T})"},
      {"downloader_started",
       {{"event", "forged"}, {"utcMs", 5}, {"zeta", true}},
       R"({"event":"downloader_started","utcMs":T,"zeta":true})"},
      {"downloader_failed",
       {{"message", "ダウンロードを中止しました。"}},
       "{\"event\":\"downloader_failed\",\"message\":\"ダウンロードを中止しました。\",\"utcMs\":"
       "T}"},
  };
  for (const Case& c : cases) EventLog::append(c.event, c.fields);
  const std::vector<std::string> written = lines(readFile(current.wstring()));
  ASSERT_EQ(written.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].expected);
    EXPECT_EQ(withoutTime(written[i]), cases[i].expected);
    EXPECT_NE(json::parse(written[i]).at("utcMs").get<std::int64_t>(), 5);
  }
}

TEST_F(EventLogTest, ALogAboveFourMebibytesIsRotatedReplacingThePreviousGeneration) {
  struct Case {
    const char* name;
    std::size_t size;
    bool rotated;
  };
  for (const Case& c :
       {Case{"at the threshold", 4194304, false}, Case{"one byte above", 4194305, true}}) {
    SCOPED_TRACE(c.name);
    createUserFolder();
    const std::string old(c.size - 1, 'a');
    writeFile(current.wstring(), old + "\n");
    writeFile(previous.wstring(), "older generation\n");

    EventLog::append("downloader_started", json::object());

    const std::string record = R"({"event":"downloader_started","utcMs":T})";
    if (c.rotated) {
      EXPECT_TRUE(sameBytes(readFile(previous.wstring()), old + "\n"));
      EXPECT_EQ(withoutTime(readFile(current.wstring())), record + "\n");
    } else {
      EXPECT_EQ(readFile(previous.wstring()), "older generation\n");
      const std::string text = readFile(current.wstring());
      ASSERT_GT(text.size(), c.size);
      EXPECT_TRUE(sameBytes(text.substr(0, c.size), old + "\n"));
      EXPECT_EQ(withoutTime(text.substr(c.size)), record + "\n");
    }
    removeLogFolders();
  }
}

// Invalid UTF-8 fails the serialisation before any file is touched, rotation included.
TEST_F(EventLogTest, InvalidUtf8LosesTheRecordAndChangesNoFile) {
  struct Case {
    const char* name;
    json fields;
  };
  const std::vector<Case> cases = {
      {"value", {{"message", "bad \xff byte"}}},
      {"key", {{"bad\xc3", 1}}},
      {"nested", {{"list", {"ok", "\xed\xa0\x80"}}}},
  };
  for (std::size_t size : {std::size_t{10}, std::size_t{4194305}}) {
    createUserFolder();
    const std::string old(size - 1, 'a');
    writeFile(current.wstring(), old + "\n");
    writeFile(previous.wstring(), "older generation\n");
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " with a log of " + std::to_string(size) + " bytes");
      EventLog::append("downloader_failed", c.fields);
      EXPECT_TRUE(sameBytes(readFile(current.wstring()), old + "\n"));
      EXPECT_EQ(readFile(previous.wstring()), "older generation\n");
    }
  }
  // The next valid record is written as usual.
  EventLog::append("downloader_failed", {{"message", "ok"}});
  EXPECT_EQ(lines(readFile(current.wstring())).size(), 1u);
}

// The per-user folder is held for the rest of the process: it cannot be removed, but a log file
// removed meanwhile is made again by the next record.
TEST_F(EventLogTest, ALogDeletedAfterTheFirstAppendIsMadeAgainInTheHeldFolder) {
  EventLog::append("downloader_started", json::object());
  fs::remove(current);
  EXPECT_FALSE(RemoveDirectoryW(privateFolder.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EventLog::append("downloader_setup_not_required", json::object());
  EXPECT_EQ(lines(readFile(current.wstring())).size(), 1u);
  EXPECT_FALSE(fs::exists(localProduct));
}

class EventLogFallbackTest : public EventLogTest {
 protected:
  void TearDown() override {
    // A Unix link is removed from Linux: the file-system library would follow it.
    const fs::path linked = linkAt.value_or(privateFolder);
    if (GetFileAttributesW(linked.c_str()) != INVALID_FILE_ATTRIBUTES && link.has_value()) {
      runUnix(L"rm", unixPath(linked),
              [&] { return GetFileAttributesW(linked.c_str()) == INVALID_FILE_ATTRIBUTES; });
    }
    EventLogTest::TearDown();
  }

  // Makes `at` a Unix symbolic link to `target`.
  void makeLink(const fs::path& at, const fs::path& target) {
    linkAt = at;
    runUnix(L"ln", "-s " + unixPath(target) + " " + unixPath(at),
            [&] { return GetFileAttributesW(at.c_str()) != INVALID_FILE_ATTRIBUTES; });
    ASSERT_NE(GetFileAttributesW(at.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
  }

  std::string fallbackLog() { return readFile((fallbackFolder / L"client.jsonl").wstring()); }

  void expectRecordInFallback() {
    EventLog::append("downloader_started", json::object());
    EXPECT_EQ(withoutTime(readFile((fallbackFolder / L"client.jsonl").wstring())),
              "{\"event\":\"downloader_started\",\"utcMs\":T}\n");
    EXPECT_FALSE(fs::exists(current));
  }

  std::optional<testsupport::TempFolder> link;  // holds the link's target
  std::optional<fs::path> linkAt;               // the link, when not in place of the user folder
};

TEST_F(EventLogFallbackTest, ASymbolicLinkInPlaceOfTheUserFolderIsRefused) {
  fs::create_directories(privateFolder.parent_path());
  link.emplace();
  const fs::path target = link->path();
  runUnix(L"ln", "-s " + unixPath(target) + " " + unixPath(privateFolder),
          [&] { return GetFileAttributesW(privateFolder.c_str()) != INVALID_FILE_ATTRIBUTES; });
  ASSERT_NE(GetFileAttributesW(privateFolder.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u);

  expectRecordInFallback();
  EXPECT_TRUE(fs::is_empty(target));
}

TEST_F(EventLogFallbackTest, ALeftoverProbeFileSendsRecordsToTheFallback) {
  createUserFolder();
  const fs::path probe = privateFolder / (L".access-" + std::to_wstring(GetCurrentProcessId()));
  writeFile(probe.wstring(), "leftover");
  expectRecordInFallback();
  EXPECT_EQ(readFile(probe.wstring()), "leftover");
}

TEST_F(EventLogFallbackTest, AFileInPlaceOfTheUserFolderSendsRecordsToTheFallback) {
  fs::create_directories(privateFolder.parent_path());
  writeFile(privateFolder.wstring(), "not a folder");
  EventLog::append("downloader_started", json::object());
  EXPECT_EQ(lines(readFile((fallbackFolder / L"client.jsonl").wstring())).size(), 1u);
  EXPECT_EQ(readFile(privateFolder.wstring()), "not a folder");
}

// A link at any level below ProgramData, or in place of either log file, sends the records to
// the fallback and nothing is created, written or removed at its target. The target is a folder
// made with the private descriptor, so the link is the only thing wrong. Each case runs in a
// process of its own (the log folder is resolved once per process). Wine 8 shows only a Unix
// link to a folder as a reparse point: a link to a file reads back as a plain file by path and
// by handle, so the log files are replaced by links to the folder here; a symbolic link to a
// file (which Windows reports as a reparse point by path) is not shown.
enum class LinkAt { Product, Orvanti, UserFolder, CurrentLog, PreviousLog };

class EventLogLinkTest : public EventLogFallbackTest,
                         public ::testing::WithParamInterface<LinkAt> {};

TEST_P(EventLogLinkTest, ALinkSendsRecordsToTheFallbackAndLeavesItsTargetAlone) {
  link.emplace();
  const fs::path target = fs::path(link->path()) / L"target";
  ASSERT_TRUE(createPrivateDirectory(target.wstring(), sid, "test"));
  const fs::path targetFile = target / L"file";
  writeFile(targetFile.wstring(), "target\n");
  // A full log, so that the record would rotate it into a linked previous generation.
  const std::string fullLog(4194305, 'a');
  switch (GetParam()) {
    case LinkAt::Product:
      makeLink(programDataProduct, target);
      break;
    case LinkAt::Orvanti:
      fs::create_directories(programDataProduct);
      makeLink(privateFolder.parent_path(), target);
      break;
    case LinkAt::UserFolder:
      fs::create_directories(privateFolder.parent_path());
      makeLink(privateFolder, target);
      break;
    case LinkAt::CurrentLog:
      createUserFolder();
      makeLink(current, target);
      break;
    case LinkAt::PreviousLog:
      createUserFolder();
      writeFile(current.wstring(), fullLog);
      makeLink(previous, target);
      break;
  }

  EventLog::append("downloader_started", json::object());

  EXPECT_EQ(withoutTime(fallbackLog()), "{\"event\":\"downloader_started\",\"utcMs\":T}\n");
  std::vector<std::wstring> inTarget;
  for (const auto& entry : fs::directory_iterator(target))
    inTarget.push_back(entry.path().filename().wstring());
  EXPECT_EQ(inTarget, std::vector<std::wstring>{L"file"});
  EXPECT_EQ(readFile(targetFile.wstring()), "target\n");
  if (GetParam() == LinkAt::PreviousLog) {
    EXPECT_TRUE(sameBytes(readFile(current.wstring()), fullLog));
  }
}

std::string linkName(const ::testing::TestParamInfo<LinkAt>& info) {
  static const char* const names[] = {"Zarn", "Orvanti", "UserFolder", "CurrentLog", "PreviousLog"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Levels, EventLogLinkTest,
                         ::testing::Values(LinkAt::Product, LinkAt::Orvanti, LinkAt::UserFolder,
                                           LinkAt::CurrentLog, LinkAt::PreviousLog),
                         linkName);

// Under Wine a folder made without the private descriptor reads back with an allow entry for
// Everyone (the other users' mode bits): an existing per-user folder that others may read is
// not used.
TEST_F(EventLogFallbackTest, AUserFolderThatAdmitsOthersIsNotUsed) {
  fs::create_directories(privateFolder);
  ASSERT_FALSE(admitsOnlySystemAdministratorsAnd(privateFolder.wstring(), sid));
  expectRecordInFallback();
  EXPECT_TRUE(fs::is_empty(privateFolder));
}

// A per-user folder that another local user made for this user (under Wine: one of another Unix
// user, read back as owned by Anonymous) is not used, whatever its access list.
TEST_F(EventLogFallbackTest, AUserFolderOwnedBySomeoneElseIsNotUsed) {
  createUserFolder();
  runUnix(L"chown", "4242 " + unixPath(privateFolder), [] { return true; });
  if (!testsupport::pollUntil(
          [&] { return readFolderAccess(privateFolder.wstring()).owner != sid; },
          std::chrono::seconds(5))) {
    GTEST_SKIP() << "the folder could not be given to another Unix user (chown needs root)";
  }
  expectRecordInFallback();
  EXPECT_TRUE(fs::is_empty(privateFolder));
}

// Runs folder_holder with `arguments` and returns its exit code.
DWORD runFolderHolder(const std::wstring& arguments) {
  const testsupport::ProcessResult result = testsupport::runProcess(
      testsupport::binDirectory() + L"\\folder_holder.exe", L"folder_holder.exe " + arguments);
  return result.finished ? result.exitCode : WAIT_TIMEOUT;
}

// Another process has the per-user folder open without sharing: this run cannot hold it, so it
// does not use it.
TEST_F(EventLogFallbackTest, AUserFolderThatCannotBeHeldIsNotUsed) {
  createUserFolder();
  const std::wstring prefix =
      L"Local\\orvanti-folder-hold-" + std::to_wstring(GetCurrentProcessId());
  const UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, (prefix + L"-ready").c_str()));
  const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, (prefix + L"-release").c_str()));
  ASSERT_TRUE(ready.valid() && release.valid());
  std::wstring commandLine = L"folder_holder.exe hold \"" + privateFolder.wstring() + L"\" " +
                             prefix + L"-ready " + prefix + L"-release";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(CreateProcessW((testsupport::binDirectory() + L"\\folder_holder.exe").c_str(),
                             commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info));
  CloseHandle(info.hThread);
  const UniqueHandle holder(info.hProcess);
  const HANDLE waitFor[] = {ready.get(), holder.get()};
  ASSERT_EQ(WaitForMultipleObjects(2, waitFor, FALSE, 30000), WAIT_OBJECT_0);
  EventLog::append("downloader_started", json::object());
  SetEvent(release.get());
  ASSERT_EQ(WaitForSingleObject(holder.get(), 30000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(holder.get(), &code);
  EXPECT_EQ(code, 0u);

  // Looked at once the other process has let go: until then the folder cannot even be listed.
  EXPECT_EQ(withoutTime(fallbackLog()), "{\"event\":\"downloader_started\",\"utcMs\":T}\n");
  EXPECT_TRUE(fs::is_empty(privateFolder));
}

// Once used, the per-user folder and the two folders above it are held for the rest of the
// process: another process can rename none of them, so none can be swapped for a link. (Under
// Wine a hold on the per-user folder alone does not stop a rename of its parents; Windows refuses
// to rename a folder below which a handle is open, which is not shown here.)
TEST_F(EventLogTest, AnotherProcessCannotRenameTheHeldFolders) {
  EventLog::append("downloader_started", json::object());
  for (const fs::path& folder : {privateFolder, privateFolder.parent_path(), programDataProduct}) {
    SCOPED_TRACE(folder.string());
    fs::path moved = folder;
    moved += L"-moved";
    const DWORD code =
        runFolderHolder(L"move \"" + folder.wstring() + L"\" \"" + moved.wstring() + L"\"");
    EXPECT_EQ(code, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (code == 0) MoveFileExW(moved.c_str(), folder.c_str(), 0);
    EXPECT_TRUE(fs::is_directory(folder));
  }
  EventLog::append("downloader_setup_not_required", json::object());
  EXPECT_EQ(lines(readFile(current.wstring())).size(), 2u);
  EXPECT_FALSE(fs::exists(localProduct));
}

// Every record of every writer arrives, each as one whole line.
void expectAllRecords(const fs::path& log, const std::vector<std::string>& writers, int count) {
  std::set<std::pair<std::string, int>> seen;
  for (const std::string& line : lines(readFile(log.wstring()))) {
    const json record = json::parse(line);  // a torn line fails here
    EXPECT_TRUE(seen.emplace(record.at("writer"), record.at("n")).second) << line;
  }
  EXPECT_EQ(seen.size(), writers.size() * static_cast<std::size_t>(count));
  for (const std::string& writer : writers) {
    for (int n = 0; n < count; ++n) {
      if (!seen.contains({writer, n})) {
        ADD_FAILURE() << "missing " << writer << " " << n;
        return;
      }
    }
  }
}

TEST_F(EventLogTest, ThreadsAppendingAtOnceLoseNoRecord) {
  constexpr int kThreads = 8;
  constexpr int kCount = 1000;
  std::vector<std::string> writers;
  for (int t = 0; t < kThreads; ++t) writers.push_back("thread" + std::to_string(t));
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (const std::string& writer : writers) {
    threads.emplace_back([&go, writer] {
      while (!go.load()) std::this_thread::yield();
      for (int n = 0; n < kCount; ++n)
        EventLog::append("test_concurrent", {{"writer", writer}, {"n", n}});
    });
  }
  go.store(true);
  for (std::thread& thread : threads) thread.join();
  expectAllRecords(current, writers, kCount);
}

TEST_F(EventLogTest, ProcessesAppendingAtOnceLoseNoRecord) {
  constexpr int kCount = 5000;
  const std::wstring eventName =
      L"Local\\orvanti-event-log-test-" + std::to_wstring(GetCurrentProcessId());
  const UniqueHandle start(
      CreateEventW(nullptr, /* bManualReset */ TRUE, FALSE, eventName.c_str()));
  ASSERT_TRUE(start.valid());
  const std::wstring program = testsupport::binDirectory() + L"\\event_log_writer.exe";
  const std::vector<std::string> writers = {"first", "second"};
  std::vector<UniqueHandle> processes;
  for (const std::string& writer : writers) {
    std::wstring commandLine = L"event_log_writer.exe " + fs::path(writer).wstring() + L" " +
                               std::to_wstring(kCount) + L" " + eventName;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &info));
    CloseHandle(info.hThread);
    processes.emplace_back(info.hProcess);
  }
  SetEvent(start.get());
  for (const UniqueHandle& process : processes) {
    ASSERT_EQ(WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process.get(), &code);
    EXPECT_EQ(code, 0u);
  }
  expectAllRecords(current, writers, kCount);
}

}  // namespace
