#include "install/installer_run.h"

#include <windows.h>

#include <filesystem>

#include "common/unique_resource.h"
#include "common/user_error.h"
#include "install/file_hold.h"
#include "install/installer_verification.h"

namespace {

constexpr wchar_t kSilentSwitch[] = L" /VERYSILENT";
constexpr wchar_t kWindowSwitch[] = L" /SILENT";
constexpr wchar_t kFixedTail[] = L" /SUPPRESSMSGBOXES /NORESTART /SP-";

}  // namespace

std::uint32_t runInstaller(const UpdateCheckResult& result, bool silent,
                           const std::function<void()>& beforeInstallerStart) {
  const std::wstring& installerPath = result.installerPath;

  // Kept open until the installer has ended, so that the file verified below is the file that
  // runs and stays what it was while it runs.
  const UniqueHandle hold = holdForReading(installerPath);
  ensure(hold.valid(), "インストーラを開けません。");

  verifyInstaller(result.manifest, installerPath);

  if (beforeInstallerStart) beforeInstallerStart();

  std::wstring commandLine = quoteArgument(installerPath);
  commandLine += silent ? kSilentSwitch : kWindowSwitch;
  commandLine += kFixedTail;

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const std::wstring workingDirectory =
      std::filesystem::path(installerPath).parent_path().wstring();
  const BOOL created = CreateProcessW(
      installerPath.c_str(), commandLine.data(), /* lpProcessAttributes */ nullptr,
      /* lpThreadAttributes */ nullptr, /* bInheritHandles */ FALSE, /* dwCreationFlags */ 0,
      /* lpEnvironment */ nullptr, workingDirectory.empty() ? nullptr : workingDirectory.c_str(),
      &startup, &info);
  // Declared before the check so that a partly filled record is released as well; the process
  // handle is released before the thread handle (reverse order of declaration).
  const UniqueHandle thread(info.hThread);
  const UniqueHandle process(info.hProcess);
  ensure(created != FALSE, "Orvantiのインストールを開始できませんでした。");

  ensure(WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0,
         "インストールの終了を確認できませんでした。");

  DWORD exitCode = 0;
  ensure(GetExitCodeProcess(process.get(), &exitCode) != FALSE,
         "インストールの結果を取得できませんでした。");
  return exitCode;
}
