#include "tests/support/run_observation.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace testsupport {

std::wstring eventLogFile() {
  std::vector<wchar_t> programData(MAX_PATH);
  GetEnvironmentVariableW(L"ProgramData", programData.data(), MAX_PATH);
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  const UniqueHandle ownedToken(token);
  std::vector<char> buffer(256);
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size);
  wchar_t* sid = nullptr;
  ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid);
  const UniqueLocalMemory<wchar_t*> ownedSid(sid);
  return std::wstring(programData.data()) + L"\\Zarn\\Orvanti\\" + sid + L"\\client.jsonl";
}

std::vector<std::string> eventLogLines() {
  std::vector<std::string> lines;
  const std::string content = readFile(eventLogFile());
  size_t start = 0;
  for (size_t end; (end = content.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(content.substr(start, end - start));
  }
  return lines;
}

std::vector<nlohmann::json> eventRecordsAfter(size_t before) {
  std::vector<nlohmann::json> records;
  const std::vector<std::string> lines = eventLogLines();
  for (size_t i = before; i < lines.size(); ++i) records.push_back(nlohmann::json::parse(lines[i]));
  return records;
}

std::vector<std::string> eventNamesAfter(size_t before) {
  std::vector<std::string> names;
  for (const nlohmann::json& record : eventRecordsAfter(before)) {
    names.push_back(record.value("event", std::string("?")));
  }
  return names;
}

ChildProcess::ChildProcess(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\"" + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &info)) {
    ADD_FAILURE() << "CreateProcessW " << GetLastError();
    return;
  }
  process_.reset(info.hProcess);
  CloseHandle(info.hThread);
  id_ = info.dwProcessId;
}

ChildProcess::~ChildProcess() {
  if (process_.valid() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_.get(), 0xDEAD);
    WaitForSingleObject(process_.get(), 5000);
  }
}

long long ChildProcess::wait(std::chrono::milliseconds timeout) const {
  if (!process_.valid() ||
      WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return -1;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_.get(), &code);
  return code;
}

std::vector<HWND> ChildProcess::windows(const wchar_t* className) const {
  struct Search {
    DWORD id;
    const wchar_t* className;
    std::vector<HWND> found;
  } search{id_, className, {}};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        auto* s = reinterpret_cast<Search*>(parameter);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        wchar_t name[64] = {};
        GetClassNameW(window, name, 64);
        if (owner == s->id && IsWindowVisible(window) && std::wstring(name) == s->className) {
          s->found.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND ChildProcess::findWindow(const wchar_t* className) const {
  const std::vector<HWND> found = windows(className);
  return found.empty() ? nullptr : found.front();
}

std::wstring windowText(HWND window) {
  wchar_t text[512] = {};
  GetWindowTextW(window, text, 512);
  return text;
}

std::wstring messageBoxText(HWND box) {
  std::wstring text;
  for (HWND child = FindWindowExW(box, nullptr, L"Static", nullptr); child != nullptr;
       child = FindWindowExW(box, child, L"Static", nullptr)) {
    text += windowText(child);
  }
  return text;
}

HWND findChild(HWND parent, const wchar_t* className) {
  return FindWindowExW(parent, nullptr, className, nullptr);
}

}  // namespace testsupport
