// report-exit PROGRAM [ARGUMENTS...]: starts the program, waits for it and prints its whole 32-bit
// exit code as "exit code N". A shell that starts a program under Wine sees only the low 8 bits of
// the code (3010 arrives as 194); scripts use this to show the real one.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
  // Everything after this program's own name, exactly as given.
  std::wstring commandLine = GetCommandLineW();
  const bool quoted = !commandLine.empty() && commandLine[0] == L'"';
  size_t end = quoted ? commandLine.find(L'"', 1) : commandLine.find(L' ');
  if (end == std::wstring::npos) {
    std::fputs("usage: report-exit PROGRAM [ARGUMENTS...]\n", stderr);
    return 2;
  }
  std::wstring rest = commandLine.substr(end + (quoted ? 1 : 0));
  rest.erase(0, rest.find_first_not_of(L' '));
  if (rest.empty()) {
    std::fputs("usage: report-exit PROGRAM [ARGUMENTS...]\n", stderr);
    return 2;
  }

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, rest.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "report-exit: cannot start the program (error %lu)\n", GetLastError());
    return 2;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::printf("exit code %lu\n", code);
  std::fflush(stdout);
  return static_cast<int>(code);
}
