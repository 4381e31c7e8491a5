// Program entry: reads the switches, prepares COM and the common controls, and runs the update
// either on this thread (silent) or behind the progress window (/showui).
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "app/run_mode.h"
#include "common/dll_search.h"
#include "common/text.h"
#include "common/unique_resource.h"
#include "common/user_error.h"
#include "ui/download_window.h"

namespace {

std::vector<std::wstring> commandLineArguments() {
  int count = 0;
  const UniqueLocalMemory<LPWSTR*> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  ensure(argv.valid(), "起動引数を取得できません。");
  // The first entry is the program path.
  return std::vector<std::wstring>(argv.get() + (count > 0 ? 1 : 0), argv.get() + count);
}

}  // namespace

// Before wWinMain and before every constructor of the libraries linked in: the stack protector's
// set-up acquires a cryptographic provider, whose DLL imports bcrypt.dll and crypt32.dll.
[[gnu::constructor(101)]] static void restrictDllSearchFirst() { restrictDllSearchToSystem(); }

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RunMode mode = RunMode::Silent;
  try {
    parseRunMode(commandLineArguments(), mode);

    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);

    DownloadWindow window;
    std::uint32_t exitCode = 1;
    if (mode == RunMode::Silent) {
      window.perform(true);
      exitCode = window.exitCode;
    } else {
      exitCode = window.run(instance);
    }

    if (SUCCEEDED(com)) CoUninitialize();
    return static_cast<int>(exitCode);
  } catch (const std::exception& failure) {
    if (mode == RunMode::Window) {
      MessageBoxW(nullptr, toUtf16Lenient(failure.what()).c_str(), L"オルバンティのインストール",
                  MB_OK | MB_ICONERROR);
    }
    return 1;
  }
}
