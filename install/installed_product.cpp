#include "install/installed_product.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "common/text.h"
#include "common/unique_resource.h"
#include "common/user_error.h"
#include "common/version.h"
#include "common/version_resource.h"
#include "install/argument_quoting.h"
#include "install/file_hold.h"
#include "install/process_start.h"
#include "install/publisher_signature.h"
#include "storage/event_log.h"

namespace fs = std::filesystem;

namespace {

constexpr wchar_t kExecutableName[] = L"Orvanti.exe";

fs::path executablePath(const std::wstring& folder) { return fs::path(folder) / kExecutableName; }

// The product's own identity in its version resource; the second value is read only when the
// first matches.
bool namesTheProduct(const std::wstring& path) {
  return readVersionString(path, L"ProductName") == L"Orvanti" &&
         readVersionString(path, L"Implementation") == L"Win32";
}

// File names and paths compare without regard to the case of A to Z only; every other character
// must be equal.
wchar_t foldAsciiCase(wchar_t c) { return c >= L'a' && c <= L'z' ? c - (L'a' - L'A') : c; }

bool equalIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (foldAsciiCase(a[i]) != foldAsciiCase(b[i])) return false;
  }
  return true;
}

// Whether something is at the path; "not there" covers file not found, path not found, bad
// network path and invalid name. Any other reason to fail is a file-system error naming "exists".
bool existsAt(const fs::path& path) {
  std::error_code error;
  const bool found = fs::exists(path, error);
  if (error) throw fs::filesystem_error("exists", path, error);
  return found;
}

}  // namespace

std::wstring productFolder() {
  return (fs::path(knownFolderPath(FOLDERID_LocalAppData)) / L"Zarn" / L"Orvanti").wstring();
}

bool isSetupRequired(const ReleaseInfo& manifest, const std::wstring& productFolder) {
  validateReleaseInfo(manifest);
  if (productFolder.empty()) return true;

  const fs::path executable = executablePath(productFolder);
  if (!existsAt(executable)) return true;

  // Something with the executable's name that is not the product must not be installed over.
  ensure(fs::is_regular_file(executable) && namesTheProduct(executable.wstring()),
         "インストール済みのOrvantiを確認できません。");

  const std::string installed = toUtf8(readVersionString(executable.wstring(), L"ProductVersion"));
  std::size_t dots = 0;
  for (const char c : installed) dots += c == '.';
  ensure(dots == 3, "インストール済みのバージョンを確認できません。");

  return isNewerVersion(stringField(manifest, "latestVersion", ""), installed);
}

bool isInstalledProductFile(const std::wstring& path) {
  const fs::path given(path);
  if (!equalIgnoringAsciiCase(given.filename().wstring(), kExecutableName)) return false;
  if (equalIgnoringAsciiCase(path, executablePath(productFolder()).wstring())) return true;
  return namesTheProduct(path);
}

HANDLE openInstalledProduct(const std::wstring& productFolder) {
  const std::wstring path = executablePath(productFolder).wstring();

  // Held until the process exists, so that the file checked is the file started.
  const UniqueHandle hold = holdForReading(path);
  ensure(hold.valid() && isInstalledProductFile(path) && verifyPublisherSignature(path),
         "インストール済みのOrvantiの製品情報または発行元署名を確認できません。");

  StartedProcess product = startInOwnFolder(path, quoteArgument(path));
  ensure(product.started, "インストール済みのOrvantiを開けませんでした。");

  // Lets the product bring its window to the front; the answer does not matter.
  AllowSetForegroundWindow(product.id);
  return product.process.release();
}
