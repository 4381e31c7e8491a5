// Drives the real progress window from outside, as a user would: finds it by its class name,
// reads its texts, clicks, presses Escape, closes it and answers its message boxes.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_resource.h"
#include "tests/support/run_observation.h"
#include "tests/support/test_support.h"
#include "tests/ui/window_host_texts.h"
#include "ui/window_layout.h"

namespace {

using testsupport::pollUntil;

constexpr wchar_t kClassName[] = L"Zarn.OrvantiDownloader";
constexpr wchar_t kTitle[] = L"オルバンティのインストール";
constexpr wchar_t kCancellingText[] = L"ダウンロードを中止しています...";
constexpr wchar_t kOpeningText[] = L"インストール済みのオルバンティを開いています...";
constexpr wchar_t kInstallingText[] = L"オルバンティをインストールしています...";
constexpr wchar_t kRestartText[] = L"インストールが完了しました。Windowsを再起動してください。";
constexpr wchar_t kInstallerFailedText[] = L"インストールが完了しませんでした。終了コード: ";
constexpr wchar_t kMessageBoxClass[] = L"#32770";
constexpr auto kWindowTimeout = std::chrono::seconds(20);

std::string utf8(const std::wstring& text) { return toUtf8(text); }

using testsupport::messageBoxText;
using testsupport::windowText;

std::wstring className(HWND window) {
  wchar_t buffer[256] = {};
  const int length = GetClassNameW(window, buffer, 256);
  return std::wstring(buffer, length > 0 ? length : 0);
}

// Presses OK and waits until the box is gone.
void dismiss(HWND box) {
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  EXPECT_TRUE(pollUntil([&] { return !IsWindow(box); }));
}

Placement clientPlacement(HWND control) {
  RECT rect{};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
  return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

void expectPlacement(const Placement& actual, const Placement& expected) {
  EXPECT_EQ(actual.x, expected.x);
  EXPECT_EQ(actual.y, expected.y);
  EXPECT_EQ(actual.width, expected.width);
  EXPECT_EQ(actual.height, expected.height);
}

// A program under test started with CreateProcessW, so that its full 32-bit exit code is seen.
class RunningProgram : public testsupport::ChildProcess {
 public:
  RunningProgram(const std::wstring& program, const std::wstring& arguments)
      : ChildProcess(testsupport::binDirectory() + L"\\" + program, L" " + arguments) {}

  bool hasExited() const { return wait(std::chrono::milliseconds(0)) != -1; }
  std::uint32_t exitCode() const {
    return static_cast<std::uint32_t>(wait(std::chrono::milliseconds(0)));
  }

  // The progress window, once it is shown; null after the time-out.
  HWND waitForWindow() const {
    HWND found = nullptr;
    pollUntil(
        [&] {
          const auto frames = windows(kClassName);
          found = frames.empty() ? nullptr : frames.front();
          return found != nullptr || hasExited();
        },
        kWindowTimeout);
    return found;
  }

  // The one message box that the program shows next; null if it ends without one.
  HWND waitForMessageBox() const {
    HWND found = nullptr;
    pollUntil(
        [&] {
          const auto boxes = windows(kMessageBoxClass);
          EXPECT_LE(boxes.size(), 1u) << "more than one message box at once";
          found = boxes.empty() ? nullptr : boxes.front();
          return found != nullptr || hasExited();
        },
        kWindowTimeout);
    return found;
  }

  // Waits for the end; fails the test for every message box that appears meanwhile.
  bool waitForExitWithoutMessageBox() const {
    return pollUntil(
        [&] {
          for (HWND box : windows(kMessageBoxClass)) {
            ADD_FAILURE() << "unexpected message box: " << utf8(messageBoxText(box));
            dismiss(box);
          }
          return hasExited();
        },
        kWindowTimeout);
  }
};

// Lets the host's scripted run go on by one step each time it is set.
class ReleaseEvent {
 public:
  ReleaseEvent() {
    static unsigned counter = 0;
    name_ = L"orvanti-window-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++counter);
    event_.reset(CreateEventW(nullptr, /* bManualReset */ FALSE, FALSE, name_.c_str()));
  }
  std::wstring argument() const { return L"--release " + name_ + L" "; }
  void release() const { SetEvent(event_.get()); }

 private:
  std::wstring name_;
  UniqueHandle event_;
};

HWND statusLabelOf(HWND frame) { return FindWindowExW(frame, nullptr, L"Static", nullptr); }
HWND cancelButtonOf(HWND frame) { return GetDlgItem(frame, IDCANCEL); }

// Posted messages are handled in order: once a marker posted behind them has taken effect, so have
// they. The marker shows the Cancel button pushed for a moment (BM_GETSTATE then says so).
void waitUntilPostedMessagesHandled(HWND frame) {
  const HWND button = cancelButtonOf(frame);
  PostMessageW(button, BM_SETSTATE, TRUE, 0);
  EXPECT_TRUE(
      pollUntil([&] { return (SendMessageW(button, BM_GETSTATE, 0, 0) & BST_PUSHED) != 0; }));
  SendMessageW(button, BM_SETSTATE, FALSE, 0);
}

bool statusBecomes(HWND frame, const std::wstring& text) {
  return pollUntil([&] { return windowText(statusLabelOf(frame)) == text; }, kWindowTimeout);
}

TEST(DownloadWindowTest, ShowsTheTitleControlsAndSizesAsLaidOut) {
  ReleaseEvent step;
  RunningProgram host(L"window_host.exe", step.argument() + L"cancel");
  const HWND frame = host.waitForWindow();
  ASSERT_NE(frame, nullptr);

  EXPECT_EQ(className(frame), kClassName);
  EXPECT_EQ(windowText(frame), kTitle);
  const LONG frameStyle = GetWindowLongW(frame, GWL_STYLE);
  EXPECT_EQ(
      frameStyle & (WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX),
      WS_CAPTION | WS_SYSMENU);
  EXPECT_EQ(GetWindowLongW(frame, GWL_EXSTYLE) & (WS_EX_TOPMOST | WS_EX_TOOLWINDOW), 0);

  // The driver sees the same screen as the window: the same dpi and work area.
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  RECT workArea{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  const DownloadWindowLayout layout =
      downloadWindowLayout(dpi, {workArea.left, workArea.top, workArea.right, workArea.bottom});
  RECT frameRect{};
  GetWindowRect(frame, &frameRect);
  expectPlacement({frameRect.left, frameRect.top, frameRect.right - frameRect.left,
                   frameRect.bottom - frameRect.top},
                  layout.frame);

  const HWND status = statusLabelOf(frame);
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(windowText(status), kCheckingText) << "the first text is there before any report";
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(status, GWL_STYLE)), 0x50000000u);
  expectPlacement(clientPlacement(status), layout.statusText);

  const HWND progress = FindWindowExW(frame, nullptr, PROGRESS_CLASSW, nullptr);
  ASSERT_NE(progress, nullptr);
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(progress, GWL_STYLE)), 0x50000008u);
  expectPlacement(clientPlacement(progress), layout.progressBar);

  const HWND button = cancelButtonOf(frame);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(className(button), L"Button");
  EXPECT_EQ(windowText(button), L"キャンセル");
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(button, GWL_STYLE)) & ~WS_DISABLED, 0x50010000u);
  expectPlacement(clientPlacement(button), layout.cancelButton);
  step.release();
  EXPECT_TRUE(statusBecomes(frame, kWaitingText));
  EXPECT_TRUE(IsWindowEnabled(button));

  SendMessageW(button, BM_CLICK, 0, 0);
  step.release();
  EXPECT_TRUE(statusBecomes(frame, kAfterCancelText));
  step.release();
  EXPECT_TRUE(host.waitForExitWithoutMessageBox());
}

struct CancelCase {
  const char* name;
  void (*cancel)(HWND frame);
};

void PrintTo(const CancelCase& c, std::ostream* out) { *out << c.name; }

class CancelTest : public testing::TestWithParam<CancelCase> {};

TEST_P(CancelTest, RequestsTheEndAndClosesWithoutABoxAndExitCode1223) {
  ReleaseEvent step;
  RunningProgram host(L"window_host.exe", step.argument() + L"cancel");
  const HWND frame = host.waitForWindow();
  ASSERT_NE(frame, nullptr);
  const HWND button = cancelButtonOf(frame);
  // The run reports its progress and then waits for the user.
  step.release();
  ASSERT_TRUE(statusBecomes(frame, kWaitingText));
  EXPECT_TRUE(IsWindowEnabled(button));

  GetParam().cancel(frame);
  // The run has seen the request and waits: the window only shows that it is cancelling.
  ASSERT_TRUE(statusBecomes(frame, kCancellingText));
  EXPECT_FALSE(IsWindowEnabled(button));
  EXPECT_TRUE(IsWindow(frame)) << "closing must only request the end of the run";

  // A later status text replaces the cancelling text but leaves Cancel disabled.
  step.release();
  EXPECT_TRUE(statusBecomes(frame, kAfterCancelText));
  EXPECT_FALSE(IsWindowEnabled(button));

  step.release();
  ASSERT_TRUE(host.waitForExitWithoutMessageBox());
  EXPECT_EQ(host.exitCode(), 1223u);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CancelTest,
    testing::Values(
        CancelCase{"CancelButton",
                   [](HWND frame) { SendMessageW(cancelButtonOf(frame), BM_CLICK, 0, 0); }},
        // A posted key reaches the window through the message loop's IsDialogMessageW.
        CancelCase{"EscapeKey",
                   [](HWND frame) { PostMessageW(frame, WM_KEYDOWN, VK_ESCAPE, 0x00010001); }},
        CancelCase{"CloseBox", [](HWND frame) { PostMessageW(frame, WM_SYSCOMMAND, SC_CLOSE, 0); }},
        CancelCase{"CloseMessage", [](HWND frame) { PostMessageW(frame, WM_CLOSE, 0, 0); }}),
    [](const testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

struct EndCase {
  const char* name;
  const wchar_t* arguments;
  const wchar_t* waitingText;  // shown while the installer or the product waits for the driver
  const wchar_t* boxText;      // the one box expected at the end; null: none
  std::uint32_t exitCode;
};

void PrintTo(const EndCase& c, std::ostream* out) { *out << c.name; }

class RunEndTest : public testing::TestWithParam<EndCase> {};

TEST_P(RunEndTest, ShowsAtMostTheOneBoxThatTheOutcomeCallsFor) {
  const EndCase& c = GetParam();
  ReleaseEvent step;
  RunningProgram host(L"window_host.exe", step.argument() + c.arguments);
  const HWND frame = host.waitForWindow();
  ASSERT_NE(frame, nullptr);

  if (c.waitingText != nullptr) {
    ASSERT_TRUE(statusBecomes(frame, c.waitingText));
    if (c.waitingText == std::wstring(kInstallingText)) {
      const HWND button = cancelButtonOf(frame);
      EXPECT_FALSE(IsWindowEnabled(button));
      // Once the installer runs, Cancel, Escape and the close box change nothing.
      SendMessageW(button, BM_CLICK, 0, 0);
      PostMessageW(frame, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
      PostMessageW(frame, WM_SYSCOMMAND, SC_CLOSE, 0);
      waitUntilPostedMessagesHandled(frame);
      EXPECT_EQ(windowText(statusLabelOf(frame)), kInstallingText);
      EXPECT_FALSE(IsWindowEnabled(button));
      EXPECT_TRUE(IsWindow(frame));
    }
    step.release();
  }

  if (c.boxText == nullptr) {
    ASSERT_TRUE(host.waitForExitWithoutMessageBox());
  } else {
    const HWND box = host.waitForMessageBox();
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_EQ(GetWindow(box, GW_OWNER), frame);
    EXPECT_EQ(windowText(box), kTitle);
    EXPECT_EQ(utf8(messageBoxText(box)), utf8(c.boxText));
    EXPECT_TRUE(IsWindow(frame)) << "the window closes only after the box";
    dismiss(box);
    ASSERT_TRUE(host.waitForExitWithoutMessageBox());
  }
  EXPECT_EQ(host.exitCode(), c.exitCode);
}

const std::wstring kFailureText = L"サーバーに接続できません。 (12029)";
const std::wstring kCode5Text = std::wstring(kInstallerFailedText) + L"5";
const std::wstring kLargeCodeText = std::wstring(kInstallerFailedText) + L"4294967295";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, RunEndTest,
    testing::Values(
        EndCase{"RunFails", L"fail \"サーバーに接続できません。 (12029)\"", nullptr,
                kFailureText.c_str(), 1},
        EndCase{"InstallerAsksForRestart", L"install 3010", kInstallingText, kRestartText, 3010},
        EndCase{"InstallerSucceeds", L"install 0", kInstallingText, nullptr, 0},
        EndCase{"InstallerEndsWith5", L"install 5", kInstallingText, kCode5Text.c_str(), 5},
        EndCase{"InstallerEndsWithTopBitSet", L"install 4294967295", kInstallingText,
                kLargeCodeText.c_str(), 4294967295u},
        EndCase{"InstallerReturns1223", L"install 1223", kInstallingText, nullptr, 1223},
        EndCase{"ProductCurrent", L"current", kOpeningText, nullptr, 0},
        // The window must end the run by itself when the run's last message does not arrive.
        EndCase{"FinishMessageLostAfterFailure",
                L"--lose-finish fail \"サーバーに接続できません。 (12029)\"", nullptr,
                kFailureText.c_str(), 1},
        EndCase{"FinishMessageLostAfterInstall", L"--lose-finish install 3010", kInstallingText,
                kRestartText, 3010},
        EndCase{"FinishMessageLostWhenCurrent", L"--lose-finish current", kOpeningText, nullptr,
                0}),
    [](const testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

// The program itself, with no update service to answer it: its run fails, and the failure is shown
// in one box owned by the window.
TEST(DownloadWindowTest, TheProgramWithShowUiShowsItsWindowAndItsFailure) {
  RunningProgram program(L"OrvantiDownloader.exe", L"/showui");
  const HWND frame = program.waitForWindow();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(windowText(frame), kTitle);
  EXPECT_EQ(windowText(cancelButtonOf(frame)), L"キャンセル");
  EXPECT_NE(statusLabelOf(frame), nullptr);

  const HWND box = program.waitForMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(GetWindow(box, GW_OWNER), frame);
  EXPECT_FALSE(messageBoxText(box).empty());
  dismiss(box);
  ASSERT_TRUE(program.waitForExitWithoutMessageBox());
  EXPECT_EQ(program.exitCode(), 1u);
}

}  // namespace
