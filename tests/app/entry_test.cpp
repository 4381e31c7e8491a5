// The real program started with real command lines. Whether a switch was accepted shows in the
// event log: an accepted command line starts the update run, whose first act is
// "downloader_started"; a refused one writes nothing. No update service runs during these tests,
// so every accepted run ends with the connection failure and exit code 1.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_resource.h"
#include "tests/support/run_observation.h"
#include "tests/support/test_support.h"

namespace {

constexpr wchar_t kBoxCaption[] = L"オルバンティのインストール";

std::wstring programPath() { return testsupport::binDirectory() + L"\\OrvantiDownloader.exe"; }

std::vector<std::string> logLines() { return testsupport::eventLogLines(); }
std::vector<std::string> eventsAfter(size_t before) { return testsupport::eventNamesAfter(before); }

class Child : public testsupport::ChildProcess {
 public:
  explicit Child(const std::wstring& arguments) : ChildProcess(programPath(), arguments) {}
  long long wait() { return ChildProcess::wait(std::chrono::seconds(30)); }
};

using testsupport::windowText;

std::wstring boxText(HWND box) { return testsupport::messageBoxText(box); }

// A message box of the child once it is filled in (it exists a moment before its texts do).
HWND shownBox(const Child& child) {
  const HWND box = child.findMessageBox();
  return box != nullptr && !windowText(box).empty() && !boxText(box).empty() ? box : nullptr;
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
    ASSERT_TRUE(testsupport::pollUntil([&] { return (box = shownBox(child)) != nullptr; },
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
  ASSERT_TRUE(testsupport::pollUntil([&] { return (box = shownBox(child)) != nullptr; },
                                     std::chrono::seconds(20)));
  EXPECT_EQ(windowText(box), kBoxCaption);
  EXPECT_EQ(boxText(box), L"指定された起動引数は使用できません。");
  EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_EQ(child.wait(), 1);
  EXPECT_EQ(logLines().size(), before);
}

}  // namespace
