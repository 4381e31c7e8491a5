#include "install/file_hold.h"

UniqueHandle holdForReading(const std::wstring& path) {
  return UniqueHandle(CreateFileW(path.c_str(), GENERIC_READ, /* dwShareMode */ FILE_SHARE_READ,
                                  /* lpSecurityAttributes */ nullptr, OPEN_EXISTING,
                                  /* dwFlagsAndAttributes */ 0, /* hTemplateFile */ nullptr));
}
