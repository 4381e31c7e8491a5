#pragma once

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace testsupport {

// The folder of the running test program; the build puts every program there.
std::wstring binDirectory();

// A fresh empty folder under the temporary directory, removed with everything in it on destruction.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::wstring& path() const { return path_; }
  std::wstring file(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

struct ProcessResult {
  bool finished = false;  // false: still running after the time-out (it has been terminated)
  std::uint32_t exitCode = 0;
};

// Starts `program` with the full command line `commandLine` (program name included) and waits.
ProcessResult runProcess(const std::wstring& program, const std::wstring& commandLine,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60),
                         const std::wstring& workingDirectory = L"");

// Polls `condition` until it holds or the time-out passes; returns its last answer.
bool pollUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

std::string readFile(const std::wstring& path);
void writeFile(const std::wstring& path, const std::string& bytes);

}  // namespace testsupport
