// Tries to change a file as another Windows program would (Wine enforces sharing modes only
// between its own processes, so a tamper attempt from the Linux side would prove nothing).
//   file_tamper write PATH          open for writing and write one byte at the start
//   file_tamper delete PATH         DeleteFileW
//   file_tamper replace PATH OTHER  MoveFileExW(OTHER, PATH, MOVEFILE_REPLACE_EXISTING)
//   file_tamper move PATH OTHER     MoveFileExW(PATH, OTHER, 0): moving it out of the way
//   file_tamper read PATH           open for reading (others may read and write) and read a byte
// Exit code: 0 when it worked, otherwise the last-error code of the call that failed.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 87;
  const std::wstring action = argv[1];
  const wchar_t* path = argv[2];
  if (action == L"write" || action == L"read") {
    const bool write = action == L"write";
    HANDLE file =
        CreateFileW(path, write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    char byte = 'x';
    DWORD done = 0;
    const BOOL ok = write ? WriteFile(file, &byte, 1, &done, nullptr)
                          : ReadFile(file, &byte, 1, &done, nullptr);
    const DWORD error = ok && done == 1 ? 0 : (ok ? 38 : GetLastError());
    CloseHandle(file);
    return static_cast<int>(error);
  }
  if (action == L"delete") return DeleteFileW(path) ? 0 : static_cast<int>(GetLastError());
  if (action == L"replace" && argc >= 4) {
    return MoveFileExW(argv[3], path, MOVEFILE_REPLACE_EXISTING) ? 0
                                                                 : static_cast<int>(GetLastError());
  }
  if (action == L"move" && argc >= 4) {
    return MoveFileExW(path, argv[3], 0) ? 0 : static_cast<int>(GetLastError());
  }
  return 87;
}
