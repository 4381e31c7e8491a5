#include "tests/storage/folder_access.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <stdexcept>

#include "common/unique_resource.h"

FolderAccess readFolderAccess(const std::wstring& path) {
  PSECURITY_DESCRIPTOR raw = nullptr;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &dacl, nullptr, &raw) != ERROR_SUCCESS) {
    throw std::runtime_error("GetNamedSecurityInfoW failed");
  }
  const UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor(raw);
  FolderAccess access;
  UniqueLocalMemory<LPWSTR> ownerText;
  if (owner != nullptr && ConvertSidToStringSidW(owner, ownerText.put()))
    access.owner = ownerText.get();
  UniqueLocalMemory<LPWSTR> text;
  if (ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.put(), nullptr)) {
    access.daclSddl = text.get();
  }
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    if (static_cast<ACE_HEADER*>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    UniqueLocalMemory<LPWSTR> sid;
    if (ConvertSidToStringSidW(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, sid.put())) {
      access.admitted.emplace_back(sid.get());
    }
  }
  return access;
}

bool admitsOnlySystemAdministratorsAnd(const std::wstring& path, const std::wstring& sid) {
  for (const std::wstring& admitted : readFolderAccess(path).admitted) {
    if (admitted != L"S-1-5-18" && admitted != L"S-1-5-32-544" && admitted != sid) return false;
  }
  return true;
}

bool runningUnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}
