// Shows the real progress window in front of an update run whose collaborators follow a script
// chosen on the command line. The update service, the installer and the installed product are not
// reachable from the window tests, so these operations are fakes; the window, its thread, the
// update run and its messages are the program's own.
//
// usage: window_host.exe [--release EVENT] [--lose-finish] SCRIPT [ARGUMENT]
//   cancel         waits for EVENT, reports the checking and the downloading text and waits for
//                  Cancel; then waits for EVENT, reports kAfterCancelText, waits for EVENT again
//                  and fails as a cancelled run does
//   fail TEXT      reports the checking text and fails with TEXT
//   install CODE   has an installer that, once started, waits for EVENT and ends with CODE
//   current        finds the product current and opens it, which waits for EVENT
//   --lose-finish  the window never receives the run's WM_RUN_FINISHED (as if its post failed)
//   --release      the named event that lets a waiting script go on (none: no waiting)
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "app/update_run.h"
#include "common/text.h"
#include "common/unique_resource.h"
#include "common/user_error.h"
#include "tests/ui/window_host_texts.h"
#include "ui/download_window.h"
#include "update/update_check.h"

namespace {

constexpr auto kScriptWaitLimit = std::chrono::seconds(60);

class FixedRunFolder final : public RunFolder {
 public:
  const std::wstring& path() const override { return path_; }

 private:
  std::wstring path_ = L"C:\\orvanti-window-host\\download";
};

struct Script {
  std::wstring name;
  std::wstring argument;
  std::wstring releaseEvent;
  bool loseFinish = false;
};

Script parseScript() {
  int count = 0;
  const UniqueLocalMemory<LPWSTR*> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  ensure(argv.valid(), "window_host: no command line");
  Script script;
  std::vector<std::wstring> words(argv.get() + 1, argv.get() + count);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i] == L"--release" && i + 1 < words.size()) {
      script.releaseEvent = words[++i];
    } else if (words[i] == L"--lose-finish") {
      script.loseFinish = true;
    } else if (script.name.empty()) {
      script.name = words[i];
    } else {
      script.argument = words[i];
    }
  }
  return script;
}

// Blocks until the test driver sets the named event (no event: returns at once).
void waitForRelease(const Script& script) {
  if (script.releaseEvent.empty()) return;
  const UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, script.releaseEvent.c_str()));
  ensure(event.valid(), "window_host: release event missing");
  const DWORD wait = static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(kScriptWaitLimit).count());
  ensure(WaitForSingleObject(event.get(), wait) == WAIT_OBJECT_0, "window_host: never released");
}

UpdateRunOperations scriptedOperations(const Script& script) {
  UpdateRunOperations operations;
  operations.serverUrl = "https://updates.orvanti.invalid";
  operations.appendEvent = [](const std::string&, nlohmann::json) {};
  operations.createDownloadFolder = [] { return std::make_unique<FixedRunFolder>(); };
  operations.productFolder = [] { return std::wstring(L"C:\\orvanti-window-host\\product"); };
  operations.isSetupRequired = [](const ReleaseInfo&, const std::wstring&) { return true; };
  operations.openInstalledProduct = [](const std::wstring&) { return HANDLE(nullptr); };
  const ReleaseInfo manifest = {{"latestVersion", "2.1.0.0"}};

  if (script.name == L"cancel") {
    operations.checkAndDownload =
        [script](const std::wstring&, const std::wstring&, const StatusCallback& onStatus,
                 const CancelQuery& isCancelled, const std::wstring&) -> UpdateCheckResult {
      waitForRelease(script);
      onStatus(kCheckingText);
      onStatus(kWaitingText);
      // A fake transfer that only waits for the user: polls the cancel request like the real one.
      const auto deadline = std::chrono::steady_clock::now() + kScriptWaitLimit;
      while (!isCancelled() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      waitForRelease(script);
      onStatus(kAfterCancelText);
      waitForRelease(script);
      throwIfCancelled(isCancelled);
      throw UserError("window_host: Cancel never came");
    };
  } else if (script.name == L"fail") {
    operations.checkAndDownload = [script](const std::wstring&, const std::wstring&,
                                           const StatusCallback& onStatus, const CancelQuery&,
                                           const std::wstring&) -> UpdateCheckResult {
      onStatus(kCheckingText);
      throw UserError(toUtf8(script.argument));
    };
  } else if (script.name == L"install" || script.name == L"current") {
    const bool install = script.name == L"install";
    operations.checkAndDownload = [install, manifest](const std::wstring&, const std::wstring&,
                                                      const StatusCallback& onStatus,
                                                      const CancelQuery& isCancelled,
                                                      const std::wstring&) {
      postStatus(onStatus, isCancelled, kCheckingText);
      return UpdateCheckResult{
          install ? L"C:\\orvanti-window-host\\download\\OrvantiSetup.exe" : L"", manifest};
    };
    const std::uint32_t code = install ? std::stoul(script.argument) : 0;
    operations.openInstalledProduct = [script](const std::wstring&) {
      waitForRelease(script);
      return HANDLE(nullptr);
    };
    operations.runInstaller = [script, code](const UpdateCheckResult&, bool,
                                             const std::function<void()>& beforeInstallerStart) {
      beforeInstallerStart();
      waitForRelease(script);
      return code;
    };
  } else {
    throw UserError("window_host: unknown script");
  }
  return operations;
}

// Turns the run's end message into WM_NULL before the window sees it.
LRESULT CALLBACK loseRunFinished(int code, WPARAM wParam, LPARAM lParam) {
  auto* message = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_RUN_FINISHED) {
    message->message = WM_NULL;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  try {
    const Script script = parseScript();
    const UpdateRunOperations operations = scriptedOperations(script);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    if (script.loseFinish) {
      ensure(SetWindowsHookExW(WH_GETMESSAGE, loseRunFinished, nullptr, GetCurrentThreadId()),
             "window_host: no message hook");
    }
    DownloadWindow window;
    return static_cast<int>(window.run(instance, operations));
  } catch (const std::exception& failure) {
    OutputDebugStringA(failure.what());
    return kHostFailed;
  }
}
