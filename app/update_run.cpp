// The update run: one pass from "downloader_started" to the exit code.
#include "app/update_run.h"

#include "build_constants.h"
#include "common/dll_search.h"
#include "common/text.h"
#include "common/unique_resource.h"
#include "common/user_error.h"
#include "install/installed_product.h"
#include "install/installer_run.h"
#include "storage/download_folder.h"
#include "storage/event_log.h"
#include "ui/download_window.h"

namespace {

constexpr char kCancelledMessage[] = "ダウンロードを中止しました。";
constexpr std::uint32_t kExitCancelled = 1223;
constexpr std::uint32_t kExitFailed = 1;
constexpr std::uint32_t kExitRestartRequired = 3010;

class RealRunFolder final : public RunFolder {
 public:
  const std::wstring& path() const override { return folder_.path(); }

 private:
  DownloadFolder folder_;
};

}  // namespace

UpdateRunOperations realUpdateRunOperations() {
  UpdateRunOperations operations;
  operations.serverUrl = kUpdateServerUrl;
  operations.appendEvent = EventLog::append;
  operations.createDownloadFolder = [] { return std::make_unique<RealRunFolder>(); };
  operations.productFolder = productFolder;
  operations.checkAndDownload = checkAndDownload;
  operations.isSetupRequired = isSetupRequired;
  operations.runInstaller = runInstaller;
  operations.openInstalledProduct = openInstalledProduct;
  return operations;
}

std::wstring installerFailedMessage(std::uint32_t exitCode) {
  return L"インストールが完了しませんでした。終了コード: " + std::to_wstring(exitCode);
}

void DownloadWindow::perform(bool silent) { perform(silent, realUpdateRunOperations()); }

void DownloadWindow::perform(bool silent, const UpdateRunOperations& operations) {
  try {
    operations.appendEvent("downloader_started", {{"server", operations.serverUrl}});
    // A late-bound system DLL that cannot be loaded fails the run here, with its name.
    loadSystemLibraries();
    // Declared in this order so that unwinding releases the result, then the product folder
    // path, then the download folder (which deletes the installer and removes the folder).
    const std::unique_ptr<RunFolder> folder = operations.createDownloadFolder();
    const std::wstring product = operations.productFolder();
    UpdateCheckResult result;
    {
      const StatusCallback onStatus = [this, &silent](std::wstring text) {
        if (!silent) postStatusText(std::move(text));
      };
      const CancelQuery isCancelled = [this] { return runState.cancelRequested(); };
      result = operations.checkAndDownload(toUtf16(operations.serverUrl), folder->path(), onStatus,
                                           isCancelled, product);
    }
    const std::string version = stringField(result.manifest, "latestVersion", "");

    if (!result.installerPath.empty() && operations.isSetupRequired(result.manifest, product)) {
      const std::function<void()> beforeInstallerStart = [this, &silent] {
        // One step, so that a Cancel either stops the installer or comes too late for it.
        ensure(runState.beginInstalling(), kCancelledMessage);
        if (!silent) postStatusText(L"オルバンティをインストールしています...");
      };
      exitCode = operations.runInstaller(result, silent, beforeInstallerStart);
      operations.appendEvent("downloader_setup_finished",
                             {{"exitCode", exitCode}, {"version", version}});
      if (exitCode != 0 && exitCode != kExitRestartRequired)
        message = installerFailedMessage(exitCode);
    } else {
      operations.appendEvent("downloader_setup_not_required", {{"publishedVersion", version}});
      ensure(!runState.cancelRequested(), kCancelledMessage);
      if (!silent) postStatusText(L"インストール済みのオルバンティを開いています...");
      // The product runs on by itself: its handle is not kept.
      UniqueHandle process(operations.openInstalledProduct(product));
      operations.appendEvent("downloader_gui_open_requested", nlohmann::json::object());
      exitCode = 0;
    }
  } catch (const std::exception& failure) {
    exitCode = runState.cancelRequested() ? kExitCancelled : kExitFailed;
    try {
      // A library's text need not be UTF-8: show and record a repaired form rather than fail here.
      message = toUtf16Lenient(failure.what());
      operations.appendEvent("downloader_failed",
                             {{"message", toUtf8(message)}, {"exitCode", exitCode}});
    } catch (const std::exception&) {
      // Out of memory while reporting: the exit code already tells the outcome.
    }
  }
  if (!silent) PostMessageW(hwnd, WM_RUN_FINISHED, 0, 0);
}
