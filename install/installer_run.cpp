#include "install/installer_run.h"

#include <windows.h>

#include <utility>

#include "common/unique_resource.h"
#include "common/user_error.h"
#include "install/file_hold.h"
#include "install/process_start.h"
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

  const StartedProcess installer = startInOwnFolder(installerPath, std::move(commandLine));
  ensure(installer.started, "Orvantiのインストールを開始できませんでした。");
  ensure(WaitForSingleObject(installer.process.get(), INFINITE) == WAIT_OBJECT_0,
         "インストールの終了を確認できませんでした。");

  DWORD exitCode = 0;
  ensure(GetExitCodeProcess(installer.process.get(), &exitCode) != FALSE,
         "インストールの結果を取得できませんでした。");
  return exitCode;
}
