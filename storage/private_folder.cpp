#include "storage/private_folder.h"

#include <aclapi.h>
#include <sddl.h>

#include <optional>
#include <vector>

#include "common/user_error.h"
#include "storage/download_folder.h"
#include "storage/private_access.h"

bool createPrivateDirectory(const std::wstring& path, const std::wstring& sid,
                            std::string_view descriptorMessage) {
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  ensure(ConvertStringSecurityDescriptorToSecurityDescriptorW(privateFolderSddl(sid).c_str(),
                                                              SDDL_REVISION_1, descriptor.put(),
                                                              /* SecurityDescriptorSize */ nullptr),
         descriptorMessage);
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = descriptor.get();
  attributes.bInheritHandle = FALSE;
  const bool created = CreateDirectoryW(path.c_str(), &attributes) != 0;
  descriptor.reset();  // keeps the last-error value of the creation
  return created;
}

UniqueHandle holdFolder(const std::wstring& path) {
  // The sharing leaves out FILE_SHARE_DELETE: a rename, a delete or any open for DELETE access
  // fails with a sharing violation while the handle lives. Sharing is only enforced against a
  // handle that has data or delete access, hence FILE_LIST_DIRECTORY (measured under Wine: a
  // hold with attribute and READ_CONTROL access alone lets a rename through). Others may still
  // read and write in the folder, so the runs of other users and processes are not held up.
  UniqueHandle folder(CreateFileW(
      path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
      /* dwShareMode */ FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder) return folder;
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(folder.get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return UniqueHandle();
  }
  // Wine opens the target of a Unix symbolic link even with FILE_FLAG_OPEN_REPARSE_POINT and
  // reports no reparse point on the handle; the path's own attributes do show it. While the
  // handle lives, the name cannot be given to anything else, so this second look is no race.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return UniqueHandle();
  }
  return folder;
}

namespace {

std::wstring sidText(PSID sid) {
  UniqueLocalMemory<LPWSTR> text;
  if (sid == nullptr || !ConvertSidToStringSidW(sid, text.put())) return std::wstring();
  return std::wstring(text.get());
}

// The SID of an entry whose layout is header, mask, SID (allow, deny and their callback forms).
// Object and compound entries carry more before the SID: their SID stays empty, which counts as
// a stranger in keepsFolderPrivate.
std::wstring entrySid(const ACE_HEADER* header) {
  switch (header->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_DENIED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE:
    case ACCESS_DENIED_CALLBACK_ACE_TYPE:
      return sidText(
          const_cast<DWORD*>(&reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->SidStart));
    default:
      return std::wstring();
  }
}

}  // namespace

bool heldFolderIsPrivate(HANDLE folder, const std::wstring& userSid) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT,
                      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      /* ppsidGroup */ nullptr, &dacl, /* ppSacl */ nullptr,
                      descriptor.put()) != ERROR_SUCCESS) {
    return false;
  }
  std::optional<std::vector<AccessEntry>> entries;  // none: a NULL DACL
  if (dacl != nullptr) {
    entries.emplace();
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
      void* ace = nullptr;
      if (!GetAce(dacl, i, &ace)) return false;
      const auto* header = static_cast<const ACE_HEADER*>(ace);
      // Every ACE type begins with header and mask.
      entries->push_back(AccessEntry{header->AceType, entrySid(header),
                                     reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header)->Mask});
    }
  }
  return keepsFolderPrivate(userSid, sidText(owner), entries);
}
