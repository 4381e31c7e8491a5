#include "storage/private_folder.h"

#include <windows.h>
#include <sddl.h>

#include "common/unique_resource.h"
#include "common/user_error.h"
#include "storage/download_folder.h"

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
