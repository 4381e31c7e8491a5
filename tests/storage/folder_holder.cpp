// Another Windows program acting on a folder (Wine enforces sharing modes only between its own
// processes, so this cannot be done from the Linux side).
//   folder_holder hold PATH READY RELEASE  open PATH with no sharing at all, set the named event
//                                          READY, keep it open until the named event RELEASE
//   folder_holder move PATH OTHER          MoveFileExW(PATH, OTHER, 0): rename it out of the way
// Exit code: 0 when it worked, otherwise the last-error code of the call that failed.
#include <windows.h>

#include <string>

namespace {

int lastError() { return static_cast<int>(GetLastError()); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 87;
  const std::wstring action = argv[1];
  if (action == L"move") return MoveFileExW(argv[2], argv[3], 0) ? 0 : lastError();
  if (action != L"hold" || argc < 5) return 87;
  const HANDLE folder = CreateFileW(argv[2], GENERIC_READ, /* dwShareMode */ 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return lastError();
  const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
  const HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
  if (ready == nullptr || release == nullptr) return lastError();
  SetEvent(ready);
  const int result = WaitForSingleObject(release, 60000) == WAIT_OBJECT_0 ? 0 : 1460;
  CloseHandle(folder);
  return result;
}
