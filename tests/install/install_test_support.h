#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "update/release_info.h"

namespace installtest {

// Copies the fixture program bin\fixtures\<fixture>.exe to `destination` (replacing a file).
void copyFixture(const std::wstring& fixture, const std::wstring& destination);

// A valid manifest that describes the file at `path` exactly, published as `version`.
ReleaseInfo manifestFor(const std::wstring& path, const std::string& version = "1.2.0.0");

// The lines of a fixture's record (command line, working directory, ...), without line feeds.
std::vector<std::string> recordLines(const std::wstring& path);

bool fileExists(const std::wstring& path);

// Runs the file-tamper fixture (another Windows process) and returns its exit code: 0 when the
// action worked, otherwise the error code of the call that failed.
std::uint32_t tamper(const std::wstring& action, const std::wstring& path,
                     const std::wstring& other = L"");

// Sets an environment variable of this process (inherited by the programs it starts) and
// removes it again on destruction.
class ScopedEnvironment {
 public:
  ScopedEnvironment(std::wstring name, const std::wstring& value);
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::wstring name_;
};

}  // namespace installtest
