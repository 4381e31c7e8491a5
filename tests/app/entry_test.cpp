// The real program started with real command lines. Whether a switch was accepted shows in the
// event log: an accepted command line starts the update run, whose first act is
// "downloader_started"; a refused one writes nothing. No update service runs during these tests,
// so every accepted run ends with the connection failure and exit code 1.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_resource.h"
#include "tests/support/test_support.h"

namespace {

constexpr wchar_t kBoxCaption[] = L"オルバンティのインストール";

std::wstring programPath() { return testsupport::binDirectory() + L"\\OrvantiDownloader.exe"; }

// The log the program writes for this user (its first-choice folder under ProgramData).
std::wstring logFile() {
  std::vector<wchar_t> programData(MAX_PATH);
  GetEnvironmentVariableW(L"ProgramData", programData.data(), MAX_PATH);
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  const UniqueHandle ownedToken(token);
  std::vector<char> buffer(256);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
  wchar_t* sid = nullptr;
  ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid);
  const UniqueLocalMemory<wchar_t*> ownedSid(sid);
  return std::wstring(programData.data()) + L"\\Zarn\\Orvanti\\" + sid + L"\\client.jsonl";
}

std::vector<std::string> logLines() {
  std::vector<std::string> lines;
  const std::string content = testsupport::readFile(logFile());
  size_t start = 0;
  for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(content.substr(start, end - start));
  }
  return lines;
}

// Records appended to the log since `before` lines.
std::vector<std::string> eventsAfter(size_t before) {
  std::vector<std::string> events;
  const std::vector<std::string> lines = logLines();
  for (size_t i = before; i < lines.size(); ++i) {
    const auto at = lines[i].find("\"event\":\"");
    if (at != std::string::npos) {
      const auto from = at + 9;
      events.push_back(lines[i].substr(from, lines[i].find('"', from) - from));
    }
  }
  return events;
}

// A started program that a test can look at while it runs.
class Child {
 public:
  explicit Child(const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + programPath() + L"\"" + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(programPath().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, &startup, &info)) {
      ADD_FAILURE() << "CreateProcessW " << GetLastError();
      return;
    }
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    id_ = info.dwProcessId;
  }
  ~Child() {
    if (process_.valid() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.get(), 0xDEAD);
      WaitForSingleObject(process_.get(), 5000);
    }
  }

  // The exit code, or -1 when the program is still running after the time-out.
  long long wait(DWORD milliseconds = 30000) {
    if (WaitForSingleObject(process_.get(), milliseconds) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    return code;
  }

  // A message box of this process: Wine's dialog class, found by its owner process.
  HWND findMessageBox() const {
    struct Search {
      DWORD id;
      HWND found;
    } search{id_, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
          auto* s = reinterpret_cast<Search*>(parameter);
          DWORD owner = 0;
          GetWindowThreadProcessId(window, &owner);
          wchar_t name[64] = {};
          GetClassNameW(window, name, 64);
          if (owner == s->id && std::wstring(name) == L"#32770") {
            s->found = window;
            return FALSE;
          }
          return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

std::wstring windowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

// The static control that holds a message box's text.
std::wstring boxText(HWND box) {
  wchar_t text[512] = {};
  GetDlgItemTextW(box, 0xFFFF, text, 512);
  return text;
}

TEST(EntryTest, RefusedSwitchEndsWith1ShowingAndWritingNothing) {
  // Before /showui or without it the refusal is shown to nobody.
  for (const wchar_t* arguments :
       {L" /foo", L" /foo /showui", L" \"\"", L" /silent=1", L" -silent"}) {
    SCOPED_TRACE(toUtf8(arguments));
    const size_t before = logLines().size();
    Child child(arguments);
    EXPECT_EQ(child.wait(), 1);
    EXPECT_EQ(child.findMessageBox(), nullptr);
    EXPECT_EQ(logLines().size(), before) << "a refused start wrote to the log";
  }
}

TEST(EntryTest, AcceptedQuietSwitchesStartTheUpdateRun) {
  for (const wchar_t* arguments :
       {L"", L" /SILENT", L" /VerySilent", L" /silent /silent", L" /showui /silent"}) {
    SCOPED_TRACE(toUtf8(arguments));
    const size_t before = logLines().size();
    Child child(arguments);
    EXPECT_EQ(child.wait(), 1);  // nothing answers at the service's address
    EXPECT_EQ(child.findMessageBox(), nullptr);
    EXPECT_EQ(eventsAfter(before),
              (std::vector<std::string>{"downloader_started", "downloader_failed"}));
  }
}

TEST(EntryTest, ShowUiRunsBehindTheWindowAndShowsItsFailure) {
  for (const wchar_t* arguments : {L" /ShowUI", L" /silent /showui"}) {
    SCOPED_TRACE(toUtf8(arguments));
    const size_t before = logLines().size();
    Child child(arguments);
    HWND box = nullptr;
    ASSERT_TRUE(testsupport::pollUntil([&] { return (box = child.findMessageBox()) != nullptr; },
                                       std::chrono::seconds(40)));
    EXPECT_EQ(windowText(box), kBoxCaption);
    // Owned by the progress window, which is still there behind it.
    const HWND owner = GetWindow(box, GW_OWNER);
    ASSERT_NE(owner, nullptr);
    wchar_t ownerClass[64] = {};
    GetClassNameW(owner, ownerClass, 64);
    EXPECT_STREQ(ownerClass, L"Zarn.OrvantiDownloader");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(child.wait(), 1);
    EXPECT_EQ(eventsAfter(before),
              (std::vector<std::string>{"downloader_started", "downloader_failed"}));
  }
}

TEST(EntryTest, RefusedSwitchAfterShowUiIsShownInABoxWithoutOwner) {
  const size_t before = logLines().size();
  Child child(L" /showui /foo");
  HWND box = nullptr;
  ASSERT_TRUE(testsupport::pollUntil([&] { return (box = child.findMessageBox()) != nullptr; },
                                     std::chrono::seconds(20)));
  EXPECT_EQ(windowText(box), kBoxCaption);
  EXPECT_EQ(boxText(box), L"指定された起動引数は使用できません。");
  EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(child.wait(), 1);
  EXPECT_EQ(logLines().size(), before);
}

}  // namespace
