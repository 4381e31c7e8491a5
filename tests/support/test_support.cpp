#include "tests/support/test_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "common/unique_resource.h"

namespace fs = std::filesystem;

namespace testsupport {

std::wstring binDirectory() {
  std::vector<wchar_t> buffer(32768);
  const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return fs::path(std::wstring(buffer.data(), length)).parent_path().wstring();
}

TempFolder::TempFolder() {
  static unsigned counter = 0;
  for (;;) {
    const fs::path candidate = fs::temp_directory_path() /
                               (L"orvanti-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(++counter));
    if (fs::create_directory(candidate)) {
      path_ = candidate.wstring();
      return;
    }
  }
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

ProcessResult runProcess(const std::wstring& program, const std::wstring& commandLine,
                         std::chrono::milliseconds timeout, const std::wstring& workingDirectory) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring buffer = commandLine;
  if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                      &info)) {
    throw std::runtime_error("CreateProcessW failed: " + std::to_string(GetLastError()));
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  ProcessResult result;
  if (WaitForSingleObject(process.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 0xDEAD);
    WaitForSingleObject(process.get(), 5000);
    return result;
  }
  DWORD code = 0;
  GetExitCodeProcess(process.get(), &code);
  result.finished = true;
  result.exitCode = code;
  return result;
}

bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return condition();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string readFile(const std::wstring& path) {
  std::ifstream in(fs::path(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void writeFile(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("could not write test file");
}

}  // namespace testsupport
