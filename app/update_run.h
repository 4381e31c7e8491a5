#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "update/update_check.h"

// The run's private download folder while the run holds it; removed when released.
class RunFolder {
 public:
  virtual ~RunFolder() = default;
  virtual const std::wstring& path() const = 0;
};

// The collaborators of the update run. realUpdateRunOperations() gives the program's own; tests
// put fakes in place of the parts that cannot be reached for real.
struct UpdateRunOperations {
  std::string serverUrl;  // UTF-8: logged as "server" and (as UTF-16) asked for the release
  std::function<void(const std::string& event, nlohmann::json fields)> appendEvent;
  std::function<std::unique_ptr<RunFolder>()> createDownloadFolder;
  std::function<std::wstring()> productFolder;
  std::function<UpdateCheckResult(const std::wstring& baseUrl, const std::wstring& downloadFolder,
                                  const StatusCallback& onStatus, const CancelQuery& isCancelled,
                                  const std::wstring& productFolder)>
      checkAndDownload;
  std::function<bool(const ReleaseInfo& manifest, const std::wstring& productFolder)> isSetupRequired;
  std::function<std::uint32_t(const UpdateCheckResult& result, bool silent,
                              const std::function<void()>& beforeInstallerStart)>
      runInstaller;
  std::function<HANDLE(const std::wstring& productFolder)> openInstalledProduct;
};

UpdateRunOperations realUpdateRunOperations();

// The message left for the user when the installer ends with a code other than 0 and 3010.
std::wstring installerFailedMessage(std::uint32_t exitCode);
