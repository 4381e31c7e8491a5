#include "tests/support/verify_tool.h"

#include <windows.h>

#include <chrono>
#include <stdexcept>

#include "common/unique_resource.h"
#include "tests/support/test_support.h"

namespace testsupport {

ProcessOutput runProcessCapturingOutput(const std::wstring& program,
                                        const std::wstring& commandLine, bool withErrors,
                                        std::chrono::milliseconds timeout) {
  const TempFolder folder;
  const std::wstring outputPath = folder.file(L"output.bin");
  SECURITY_ATTRIBUTES inherit{sizeof(inherit), nullptr, TRUE};
  UniqueHandle output(CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!output.valid()) {
    throw std::runtime_error("CreateFileW failed: " + std::to_string(GetLastError()));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = output.get();
  startup.hStdError = withErrors ? output.get() : nullptr;
  PROCESS_INFORMATION info{};
  std::wstring buffer = commandLine;
  if (!CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, /* bInheritHandles */ TRUE,
                      0, nullptr, nullptr, &startup, &info)) {
    throw std::runtime_error("CreateProcessW failed: " + std::to_string(GetLastError()));
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  output.reset();
  ProcessOutput result;
  if (WaitForSingleObject(process.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    TerminateProcess(process.get(), 0xDEAD);
    WaitForSingleObject(process.get(), 5000);
  } else {
    DWORD code = 0;
    GetExitCodeProcess(process.get(), &code);
    result.finished = true;
    result.exitCode = code;
  }
  result.output = readFile(outputPath);
  return result;
}

VerifyToolRun runVerifyTool(const std::wstring& arguments) {
  const std::wstring program = binDirectory() + L"\\OrvantiVerify.exe";
  const ProcessOutput run =
      runProcessCapturingOutput(program, L"\"" + program + L"\" " + arguments);
  if (!run.finished) throw std::runtime_error("OrvantiVerify.exe did not end");
  return {run.exitCode, run.output, nullptr};
}

VerifyToolRun judgeWithVerifyTool(const std::wstring& releaseDir) {
  VerifyToolRun run = runVerifyTool(L"--json \"" + releaseDir + L"\"");
  run.report = nlohmann::json::parse(run.output);
  return run;
}

nlohmann::json reportCheck(const nlohmann::json& report, const std::string& name) {
  for (const nlohmann::json& check : report.at("checks")) {
    if (check.at("check") == name) return check;
  }
  return nullptr;
}

}  // namespace testsupport
