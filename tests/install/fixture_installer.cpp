// A stand-in for the product's installer, for tests and demonstrations. Its command line is
// ignored; the environment it inherits directs it (every variable optional):
//   ORVANTI_FIXTURE_INSTALLER_RECORD   file to write the record to (fixture_record.h): command
//                                      line, working directory, then "rename=<code>" when asked
//   ORVANTI_FIXTURE_INSTALLER_EXIT_CODE  decimal exit code, 0 to 4294967295 (default 0)
//   ORVANTI_FIXTURE_INSTALLER_TRY_RENAME  when set: try to rename its own file while running and
//                                      record the error code (0 = renamed; it is renamed back)
//   ORVANTI_FIXTURE_INSTALLER_PRODUCT  an executable to install: copied to
//                                      %LOCALAPPDATA%\Zarn\Orvanti\Orvanti.exe (folders made)
#include <windows.h>

#include <cwchar>
#include <string>

#include "fixture_record.h"

namespace {

DWORD tryRenameSelf() {
  const std::wstring self = fixture::modulePath();
  const std::wstring moved = self + L".moved";
  if (!MoveFileExW(self.c_str(), moved.c_str(), 0)) return GetLastError();
  MoveFileExW(moved.c_str(), self.c_str(), 0);
  return 0;
}

bool installProduct(const std::wstring& source) {
  const std::wstring folder = fixture::madeProductFolder();
  if (folder.empty()) return false;
  return CopyFileW(source.c_str(), (folder + L"\\Orvanti.exe").c_str(), FALSE) != FALSE;
}

}  // namespace

int wmain() {
  std::string furtherLines;
  if (!fixture::environmentVariable(L"ORVANTI_FIXTURE_INSTALLER_TRY_RENAME").empty()) {
    furtherLines += "rename=" + std::to_string(tryRenameSelf()) + "\n";
  }
  const std::wstring product = fixture::environmentVariable(L"ORVANTI_FIXTURE_INSTALLER_PRODUCT");
  if (!product.empty() && !installProduct(product)) return 0xF2F2F2F2;
  fixture::writeRecord(L"ORVANTI_FIXTURE_INSTALLER_RECORD", furtherLines);

  const std::wstring code = fixture::environmentVariable(L"ORVANTI_FIXTURE_INSTALLER_EXIT_CODE");
  ExitProcess(code.empty() ? 0 : static_cast<UINT>(std::wcstoul(code.c_str(), nullptr, 10)));
}
