#include "tests/install/install_test_support.h"

#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "common/sha256.h"
#include "install/argument_quoting.h"
#include "tests/support/fixture_programs.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace installtest {

void copyFixture(const std::wstring& fixture, const std::wstring& destination) {
  // CopyFileW: MinGW's std::filesystem::copy_file cannot overwrite an existing file.
  if (!CopyFileW(testsupport::fixtureProgram(fixture).c_str(), destination.c_str(), FALSE)) {
    throw std::runtime_error("CopyFileW failed: " + std::to_string(GetLastError()));
  }
}

ReleaseInfo manifestFor(const std::wstring& path, const std::string& version) {
  return ReleaseInfo{{"available", true},
                     {"product", "Orvanti"},
                     {"latestVersion", version},
                     {"sha256", sha256File(path)},
                     {"sizeBytes", fs::file_size(path)},
                     {"downloadPath", "/tov/v2/client/client-updates/orvanti/download"}};
}

std::vector<std::string> recordLines(const std::wstring& path) {
  std::istringstream in(testsupport::readFile(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool fileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::uint32_t tamper(const std::wstring& action, const std::wstring& path,
                     const std::wstring& other) {
  const std::wstring program = testsupport::fixtureProgram(L"file-tamper");
  std::wstring commandLine = quoteArgument(program) + L" " + action + L" " + quoteArgument(path);
  if (!other.empty()) commandLine += L" " + quoteArgument(other);
  const testsupport::ProcessResult result = testsupport::runProcess(program, commandLine);
  if (!result.finished) throw std::runtime_error("file-tamper did not finish");
  return result.exitCode;
}

ScopedEnvironment::ScopedEnvironment(std::wstring name, const std::wstring& value)
    : name_(std::move(name)) {
  SetEnvironmentVariableW(name_.c_str(), value.c_str());
}

ScopedEnvironment::~ScopedEnvironment() { SetEnvironmentVariableW(name_.c_str(), nullptr); }

}  // namespace installtest
