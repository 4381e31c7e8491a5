#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace testsupport {

struct ProcessOutput {
  bool finished = false;
  std::uint32_t exitCode = 0;
  std::string output;  // the bytes it wrote to its standard output
};

// Runs a program (the full command line, program name included) with its standard output caught
// in a file (standard error too when `withErrors`): a file rather than a pipe, so that no process
// that inherits the handle can keep the reader waiting.
ProcessOutput runProcessCapturingOutput(
    const std::wstring& program, const std::wstring& commandLine, bool withErrors = false,
    std::chrono::milliseconds timeout = std::chrono::seconds(60));

struct VerifyToolRun {
  std::uint32_t exitCode = 0;
  std::string output;     // standard output as written
  nlohmann::json report;  // the parsed report of a --json run (null otherwise)
};

// Runs bin\OrvantiVerify.exe of this build with the arguments (after the program's name).
VerifyToolRun runVerifyTool(const std::wstring& arguments);

// Its --json report on a release folder.
VerifyToolRun judgeWithVerifyTool(const std::wstring& releaseDir);

// The check of that name in a report (null when absent).
nlohmann::json reportCheck(const nlohmann::json& report, const std::string& name);

}  // namespace testsupport
