#pragma once

#include <windows.h>

#include <string>

#include "common/unique_resource.h"

// A process started by startInOwnFolder; `started` false leaves both handles empty and the
// thread's last-error value as CreateProcessW set it.
struct StartedProcess {
  bool started = false;
  DWORD id = 0;
  UniqueHandle thread;
  UniqueHandle process;
};

// Starts the executable with the full command line, in the executable's own folder, with the
// program's environment, no inherited handles and no window placement of its own.
StartedProcess startInOwnFolder(const std::wstring& executable, std::wstring commandLine);
