// The progress window: a status line, an endless progress bar and Cancel, in front of the update
// run on a worker thread.
#include "ui/download_window.h"

#include <commctrl.h>

#include <memory>

#include "app/update_run.h"
#include "common/user_error.h"
#include "ui/window_layout.h"

namespace {

constexpr wchar_t kClassName[] = L"Zarn.OrvantiDownloader";
constexpr wchar_t kTitle[] = L"オルバンティのインストール";
constexpr wchar_t kCheckingText[] = L"オルバンティの最新版を確認しています...";
constexpr wchar_t kCancellingText[] = L"ダウンロードを中止しています...";
constexpr wchar_t kCancelText[] = L"キャンセル";
constexpr wchar_t kRestartText[] = L"インストールが完了しました。Windowsを再起動してください。";
constexpr int kIconResource = 101;
constexpr UINT_PTR kStaticId = 0;
constexpr DWORD kFrameStyle = WS_CAPTION | WS_SYSMENU;
constexpr DWORD kStatusStyle = WS_CHILD | WS_VISIBLE | SS_LEFT;
constexpr DWORD kProgressStyle = WS_CHILD | WS_VISIBLE | PBS_MARQUEE;
constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON;
constexpr WPARAM kMarqueeStepMs = 30;

int screenDpi() {
  const HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi;
}

HWND createControl(const wchar_t* className, const wchar_t* text, DWORD style,
                   const Placement& place, HWND parent, UINT_PTR id, HINSTANCE instance) {
  return CreateWindowExW(/* dwExStyle */ 0, className, text, style, place.x, place.y, place.width,
                         place.height, parent, reinterpret_cast<HMENU>(id), instance,
                         /* lpParam */ nullptr);
}

}  // namespace

std::uint32_t DownloadWindow::run(HINSTANCE instance) {
  return run(instance, realUpdateRunOperations());
}

std::uint32_t DownloadWindow::run(HINSTANCE instance, const UpdateRunOperations& operations) {
  WNDCLASSW windowClass{};
  windowClass.style = 0;
  windowClass.lpfnWndProc = windowProc;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResource));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kClassName;
  ensure(RegisterClassW(&windowClass) != 0, "画面を初期化できません。");

  // Lets the window end the run itself when the run's last message never arrives.
  workerEnded.reset(
      CreateEventW(nullptr, /* bManualReset */ TRUE, /* bInitialState */ FALSE, nullptr));
  ensure(workerEnded.valid(), "画面を初期化できません。");

  RECT workArea{0, 0, 0, 0};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
  const DownloadWindowLayout layout = downloadWindowLayout(
      screenDpi(), {workArea.left, workArea.top, workArea.right, workArea.bottom});

  // windowProc already stores the handle in `hwnd` during WM_NCCREATE; a creation that fails
  // after that must not leave it behind.
  hwnd = CreateWindowExW(/* dwExStyle */ 0, kClassName, kTitle, kFrameStyle, layout.frame.x,
                         layout.frame.y, layout.frame.width, layout.frame.height,
                         /* hWndParent */ nullptr, /* hMenu */ nullptr, instance,
                         /* lpParam */ this);
  ensure(hwnd != nullptr, "画面を作成できません。");

  font = CreateFontW(layout.fontHeight, /* cWidth */ 0, /* cEscapement */ 0,
                     /* cOrientation */ 0, FW_NORMAL, /* bItalic */ FALSE, /* bUnderline */ FALSE,
                     /* bStrikeOut */ FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, /* iPitchAndFamily */ 0, L"Segoe UI");

  statusLabel = createControl(L"STATIC", kCheckingText, kStatusStyle, layout.statusText, hwnd,
                              kStaticId, instance);
  const HWND progressBar = createControl(PROGRESS_CLASSW, L"", kProgressStyle, layout.progressBar,
                                         hwnd, kStaticId, instance);
  cancelButton = createControl(L"BUTTON", kCancelText, kButtonStyle, layout.cancelButton, hwnd,
                               IDCANCEL, instance);

  SendMessageW(statusLabel, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageW(cancelButton, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  SendMessageW(progressBar, PBM_SETMARQUEE, TRUE, kMarqueeStepMs);
  ShowWindow(hwnd, SW_SHOW);

  worker = std::thread([this, &operations] {
    perform(false, operations);
    SetEvent(workerEnded.get());
  });

  runMessageLoop();

  if (worker.joinable()) {
    static_cast<void>(runState.requestCancel());  // no effect once the installer runs
    worker.join();
  }
  DeleteObject(font);
  font = nullptr;
  return exitCode;
}

// Handles what the queue holds; false once WM_QUIT has been taken from it.
bool DownloadWindow::dispatchPendingMessages() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return false;
    if (!IsDialogMessageW(hwnd, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

// The message loop, which also watches the worker thread: the run's WM_RUN_FINISHED is posted
// without a check, and if it is lost the window ends the run itself once the worker has returned.
// Everything that the worker posted is in the queue before it sets the event, so draining the
// queue first keeps the posted order and frees every status text.
void DownloadWindow::runMessageLoop() {
  for (;;) {
    if (!dispatchPendingMessages()) return;
    const HANDLE ended = workerEnded.get();
    const DWORD handleCount = runFinished ? 0 : 1;
    const DWORD woken = MsgWaitForMultipleObjectsEx(handleCount, &ended, INFINITE, QS_ALLINPUT,
                                                    MWMO_INPUTAVAILABLE);
    if (woken == WAIT_FAILED) return;
    if (handleCount == 1 && woken == WAIT_OBJECT_0) {
      if (!dispatchPendingMessages()) return;
      finishRun();
    }
  }
}

void DownloadWindow::finishRun() {
  if (runFinished) return;
  runFinished = true;
  // The worker has posted this as its last act: the wait is short.
  if (worker.joinable()) worker.join();
  switch (finalBoxFor(exitCode, !message.empty())) {
    case FinalBox::Error:
      MessageBoxW(hwnd, message.c_str(), kTitle, MB_OK | MB_ICONERROR);
      break;
    case FinalBox::RestartRequired:
      MessageBoxW(hwnd, kRestartText, kTitle, MB_OK | MB_ICONINFORMATION);
      break;
    case FinalBox::None:
      break;
  }
  DestroyWindow(hwnd);
}

void DownloadWindow::postStatusText(std::wstring text) {
  auto heapText = std::make_unique<std::wstring>(std::move(text));
  // From a successful post on, the window thread owns the string.
  if (PostMessageW(hwnd, WM_STATUS_TEXT, 0, reinterpret_cast<LPARAM>(heapText.get()))) {
    static_cast<void>(heapText.release());
  }
}

void DownloadWindow::requestCancel() {
  if (!runState.requestCancel()) return;  // the installer has been started
  EnableWindow(cancelButton, FALSE);
  SetWindowTextW(statusLabel, kCancellingText);
}

LRESULT CALLBACK DownloadWindow::windowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
  auto* self = reinterpret_cast<DownloadWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (message == WM_NCCREATE) {
    // Stored here, not after CreateWindowExW returns, so that every later message finds it.
    self = static_cast<DownloadWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);

  switch (message) {
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      // The close box, Alt+F4 and the system menu only ask the run to end; the run closes.
      self->requestCancel();
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) != IDCANCEL) break;
      self->requestCancel();
      return 0;
    case WM_STATUS_TEXT: {
      const std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
      SetWindowTextW(self->statusLabel, text->c_str());
      const RunPhase phase = self->runState.phase();
      EnableWindow(self->cancelButton, isCancelEnabled(phase == RunPhase::Installing,
                                                       phase == RunPhase::CancelRequested));
      return 0;
    }
    case WM_RUN_FINISHED:
      self->finishRun();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
