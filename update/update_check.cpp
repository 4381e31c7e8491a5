#include "update/update_check.h"

#include <windows.h>

#include <cstdint>
#include <exception>
#include <filesystem>
#include <system_error>

#include "common/text.h"
#include "common/unique_resource.h"
#include "common/user_error.h"
#include "install/file_hold.h"
#include "install/installed_product.h"
#include "install/installer_verification.h"
#include "update/transfer.h"

namespace {

constexpr char kManifestPath[] = "/tov/v2/client/client-updates/orvanti";
constexpr std::uint32_t kHttpOk = 200;

constexpr wchar_t kStatusChecking[] = L"オルバンティの最新版を確認しています...";
constexpr wchar_t kStatusCurrent[] = L"インストール済みのオルバンティは最新です。";
constexpr wchar_t kStatusDownloading[] = L"オルバンティをダウンロードしています...";
constexpr wchar_t kStatusVerifying[] = L"インストーラの署名と内容を確認しています...";

// An origin only: the service paths are appended directly, so a path, query or fragment in the
// base would change which resource is asked for.
bool isUsableBaseUrl(const std::wstring& baseUrl) {
  return !baseUrl.empty() && baseUrl.find_first_of(L"?#") == std::wstring::npos &&
         baseUrl.back() != L'/';
}

// Steps after the installer file may exist; the caller deletes the file when any of them fails.
UpdateCheckResult downloadAndVerify(const std::wstring& baseUrl, const std::wstring& installerPath,
                                    const StatusCallback& onStatus, const CancelQuery& isCancelled,
                                    ReleaseInfo& manifest) {
  const std::wstring downloadUrl = baseUrl + toUtf16(stringField(manifest, "downloadPath", ""));
  const TransferResult installer =
      fetchUrl(downloadUrl, installerPath, kInstallerSizeLimit, isCancelled);
  ensureInstallerStatus(installer.statusCode);

  postStatus(onStatus, isCancelled, kStatusVerifying);

  UniqueHandle hold = holdInstallerForVerification(installerPath);

  verifyInstaller(manifest, installerPath);
  throwIfCancelled(isCancelled);

  UpdateCheckResult result{installerPath, std::move(manifest)};
  hold.reset();
  return result;
}

}  // namespace

void ensureManifestStatus(std::uint32_t statusCode) {
  ensure(statusCode == kHttpOk,
         "更新サーバーに接続できませんでした。時間をおいて再実行してください。");
}

void ensureInstallerStatus(std::uint32_t statusCode) {
  ensure(statusCode == kHttpOk, "Orvantiのダウンロードに失敗しました。");
}

UniqueHandle holdInstallerForVerification(const std::wstring& installerPath) {
  // Read sharing only, so nobody can change, replace or delete the file between the verification
  // and the moment the caller takes it over.
  UniqueHandle hold = holdForReading(installerPath);
  ensure(hold.valid(), "インストーラを確認用に開けません。");
  return hold;
}

void throwIfCancelled(const CancelQuery& isCancelled) {
  if (isCancelled) ensure(!isCancelled(), "ダウンロードを中止しました。");
}

void postStatus(const StatusCallback& onStatus, const CancelQuery& isCancelled,
                const std::wstring& text) {
  if (onStatus) onStatus(text);
  throwIfCancelled(isCancelled);
}

UpdateCheckResult checkAndDownload(const std::wstring& baseUrl, const std::wstring& downloadFolder,
                                   const StatusCallback& onStatus, const CancelQuery& isCancelled,
                                   const std::wstring& productFolder) {
  ensure(isUsableBaseUrl(baseUrl), "更新サーバーのURLが不正です。");
  postStatus(onStatus, isCancelled, kStatusChecking);

  const std::wstring manifestUrl = baseUrl + toUtf16(kManifestPath);
  const TransferResult answer = fetchUrl(manifestUrl, L"", kManifestSizeLimit, isCancelled);
  ensureManifestStatus(answer.statusCode);
  ReleaseInfo manifest = parseReleaseInfo(answer.body);

  if (!isSetupRequired(manifest, productFolder)) {
    postStatus(onStatus, isCancelled, kStatusCurrent);
    return UpdateCheckResult{L"", std::move(manifest)};
  }

  const std::wstring installerPath =
      (std::filesystem::path(downloadFolder) / kInstallerFileName).wstring();
  postStatus(onStatus, isCancelled, kStatusDownloading);

  try {
    return downloadAndVerify(baseUrl, installerPath, onStatus, isCancelled, manifest);
  } catch (...) {
    // Nothing but a verified installer may stay behind. The stream and the hold have been closed
    // by unwinding; a missing file or a failed removal must not hide the original failure.
    std::error_code ignored;
    std::filesystem::remove(installerPath, ignored);
    throw;
  }
}
