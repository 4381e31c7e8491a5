// The installer of the sample release: installs the product executable that it carries as a
// resource into the user's product folder (%LOCALAPPDATA%\Zarn\Orvanti\Orvanti.exe), replacing
// an older one, and ends with 0. For tests it also follows the fixture installer's environment
// variables (tests/install/fixture_record.h): ORVANTI_FIXTURE_INSTALLER_RECORD receives its command
// line and working directory, ORVANTI_FIXTURE_INSTALLER_EXIT_CODE sets its exit code.
#include <windows.h>

#include <cwchar>
#include <string>

#include "common/dll_search.h"
#include "tests/install/fixture_record.h"

namespace {

constexpr int kProductResource = 1;

bool installProduct() {
  const HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(kProductResource), RT_RCDATA);
  if (found == nullptr) return false;
  const void* bytes = LockResource(LoadResource(nullptr, found));
  const DWORD size = SizeofResource(nullptr, found);

  const std::wstring folder = fixture::madeProductFolder();
  if (folder.empty()) return false;

  // Written beside the target first, so that a failed write never leaves half a product.
  const std::wstring target = folder + L"\\Orvanti.exe";
  const std::wstring partial = folder + L"\\Orvanti.exe.partial";
  const HANDLE file =
      CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool complete = WriteFile(file, bytes, size, &written, nullptr) && written == size;
  CloseHandle(file);
  if (!complete || !MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    DeleteFileW(partial.c_str());
    return false;
  }
  return true;
}

}  // namespace

// Before every constructor: the stack protector's set-up loads a cryptographic provider's DLL.
[[gnu::constructor(101)]] static void restrictDllSearchFirst() { restrictDllSearchToSystem(); }

int wmain() {
  fixture::writeRecord(L"ORVANTI_FIXTURE_INSTALLER_RECORD", "");
  if (!installProduct()) return 1603;  // the usual "fatal error during installation"
  const std::wstring code = fixture::environmentVariable(L"ORVANTI_FIXTURE_INSTALLER_EXIT_CODE");
  ExitProcess(code.empty() ? 0 : static_cast<UINT>(std::wcstoul(code.c_str(), nullptr, 10)));
}
