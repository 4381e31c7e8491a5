#pragma once

// What a test can observe of a real run of the program: its event log and its windows.
#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/unique_resource.h"

namespace testsupport {

// The program's log for this user, in its first-choice folder under ProgramData.
std::wstring eventLogFile();
// Its complete lines, in order.
std::vector<std::string> eventLogLines();
// The records appended after the first `before` lines, parsed, and their event names.
std::vector<nlohmann::json> eventRecordsAfter(size_t before);
std::vector<std::string> eventNamesAfter(size_t before);

// A started program that a test can look at while it runs; terminated if still running when the
// object goes.
class ChildProcess {
 public:
  ChildProcess(const std::wstring& program, const std::wstring& arguments);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit code, or -1 while the program still runs after the time-out.
  long long wait(std::chrono::milliseconds timeout = std::chrono::seconds(60)) const;
  // The visible top-level windows of this process with the class name, and the first of them
  // (or null).
  std::vector<HWND> windows(const wchar_t* className) const;
  HWND findWindow(const wchar_t* className) const;
  // A message box of this process (the dialog class "#32770"), or null.
  HWND findMessageBox() const { return findWindow(L"#32770"); }

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

std::wstring windowText(HWND window);
// The text of a message box: its static controls' texts (its icon has none).
std::wstring messageBoxText(HWND box);
// The first child control of the class, or null.
HWND findChild(HWND parent, const wchar_t* className);

}  // namespace testsupport
