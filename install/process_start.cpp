#include "install/process_start.h"

#include <filesystem>

StartedProcess startInOwnFolder(const std::wstring& executable, std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  const std::wstring workingDirectory = std::filesystem::path(executable).parent_path().wstring();
  StartedProcess started;
  started.started =
      CreateProcessW(executable.c_str(), commandLine.data(), /* lpProcessAttributes */ nullptr,
                     /* lpThreadAttributes */ nullptr, /* bInheritHandles */ FALSE,
                     /* dwCreationFlags */ 0, /* lpEnvironment */ nullptr,
                     workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                     &info) != FALSE;
  started.id = info.dwProcessId;
  started.thread.reset(info.hThread);
  started.process.reset(info.hProcess);
  return started;
}
