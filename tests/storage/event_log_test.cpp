// These tests run in a Wine prefix of their own (see CMakeLists.txt), so that they may remove the
// real log folders under ProgramData and LocalAppData before and after each case.
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
    fs::create_directories(privateFolder);
    const std::string old(c.size - 1, 'a');
    writeFile(current.wstring(), old + "\n");
    writeFile(previous.wstring(), "older generation\n");

    EventLog::append("downloader_started", json::object());

    const std::string record = R"({"event":"downloader_started","utcMs":T})";
    if (c.rotated) {
      EXPECT_EQ(readFile(previous.wstring()), old + "\n");
      EXPECT_EQ(withoutTime(readFile(current.wstring())), record + "\n");
    } else {
      EXPECT_EQ(readFile(previous.wstring()), "older generation\n");
      const std::string text = readFile(current.wstring());
      ASSERT_EQ(text.size() > c.size, true);
      EXPECT_EQ(text.substr(0, c.size), old + "\n");
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
    fs::create_directories(privateFolder);
    const std::string old(size - 1, 'a');
    writeFile(current.wstring(), old + "\n");
    writeFile(previous.wstring(), "older generation\n");
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " with a log of " + std::to_string(size) + " bytes");
      EventLog::append("downloader_failed", c.fields);
      EXPECT_EQ(readFile(current.wstring()), old + "\n");
      EXPECT_EQ(readFile(previous.wstring()), "older generation\n");
    }
  }
  // The next valid record is written as usual.
  EventLog::append("downloader_failed", {{"message", "ok"}});
  EXPECT_EQ(lines(readFile(current.wstring())).size(), 1u);
}

TEST_F(EventLogTest, AFolderDeletedAfterTheFirstAppendIsMadeAgain) {
  EventLog::append("downloader_started", json::object());
  fs::remove_all(privateFolder);
  EventLog::append("downloader_setup_not_required", json::object());
  EXPECT_EQ(lines(readFile(current.wstring())).size(), 1u);
  EXPECT_FALSE(fs::exists(localProduct));
}

class EventLogFallbackTest : public EventLogTest {
 protected:
  void TearDown() override {
    // A Unix link is removed from Linux: the file-system library would follow it.
    if (fs::exists(privateFolder) && link.has_value()) {
      runUnix(L"rm", unixPath(privateFolder),
              [&] { return GetFileAttributesW(privateFolder.c_str()) == INVALID_FILE_ATTRIBUTES; });
    }
    EventLogTest::TearDown();
  }

  void expectRecordInFallback() {
    EventLog::append("downloader_started", json::object());
    EXPECT_EQ(withoutTime(readFile((fallbackFolder / L"client.jsonl").wstring())),
              "{\"event\":\"downloader_started\",\"utcMs\":T}\n");
    EXPECT_FALSE(fs::exists(current));
  }

  std::optional<testsupport::TempFolder> link;
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
  fs::create_directories(privateFolder);
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
