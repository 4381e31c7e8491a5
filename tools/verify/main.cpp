// OrvantiVerify.exe [--json] RELEASE_DIR
// Judges a release folder (manifest.json and OrvantiSetup.exe) as a client of this build judges
// the release it fetches: the manifest's rules, then every check made on the downloaded
// installer, with the client's own code and in its order. One line per check; the verdict is the
// client's. Exit code 0 when a client of this build accepts the release, 1 when it refuses it,
// 2 for a usage error. The installer is never run.
#include <windows.h>

#include <exception>
#include <filesystem>
#include <string>
#include <string_view>

#include "build_constants.h"
#include "common/dll_search.h"
#include "tools/verify/release_judgement.h"
#include "tools/verify/report_text.h"

namespace {

constexpr char kUsage[] =
    "usage: OrvantiVerify.exe [--json] RELEASE_DIR\n"
    "  RELEASE_DIR  a folder with manifest.json and OrvantiSetup.exe\n"
    "  --json       the report as one JSON object\n"
    "Exit code: 0 a client of this build accepts the release, 1 it refuses it, 2 usage error.\n";

// UTF-8 bytes straight to the handle: the C library's wide output prints nothing for Japanese
// text under Wine, and a pipe or file receives the bytes unchanged.
void writeUtf8(DWORD which, std::string_view text) {
  const HANDLE out = GetStdHandle(which);
  if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size(), 1 << 20));
    if (!WriteFile(out, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

int usageError(std::string_view problem) {
  writeUtf8(STD_ERROR_HANDLE, "OrvantiVerify: " + std::string(problem) + "\n" + kUsage);
  return 2;
}

}  // namespace

// Before wmain and every constructor of the libraries linked in, as in the downloader: no DLL is
// taken from the tool's folder or the current directory.
[[gnu::constructor(101)]] static void restrictDllSearchFirst() { restrictDllSearchToSystem(); }

int wmain(int argc, wchar_t** argv) {
  // A console shows the UTF-8 bytes as text.
  SetConsoleOutputCP(CP_UTF8);

  bool json = false;
  std::wstring releaseDir;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view argument = argv[i];
    if (argument == L"--json") {
      json = true;
    } else if (argument == L"--help" || argument == L"-h" || argument == L"/?") {
      writeUtf8(STD_OUTPUT_HANDLE, kUsage);
      return 2;
    } else if (argument.starts_with(L"--")) {
      return usageError("unknown option " + toUtf8Lenient(argument));
    } else if (!releaseDir.empty()) {
      return usageError("only one RELEASE_DIR");
    } else {
      releaseDir = argument;
    }
  }
  if (releaseDir.empty()) return usageError("RELEASE_DIR is missing");
  std::error_code error;
  if (!std::filesystem::is_directory(releaseDir, error)) {
    return usageError("not a folder: " + toUtf8Lenient(releaseDir));
  }

  try {
    loadSystemLibraries();
    const ReleaseJudgement judgement = judgeRelease(releaseDir, kPinnedSignerThumbprint);
    const BuildIdentity build{kUpdateServerUrl, kPinnedSignerThumbprint};
    const std::string shown = toUtf8Lenient(releaseDir);
    writeUtf8(STD_OUTPUT_HANDLE, json ? jsonText(reportJson(shown, build, judgement)) + "\n"
                                      : reportText(shown, build, judgement));
    return judgement.accepted ? 0 : 1;
  } catch (const std::exception& failure) {
    // Not a verdict: the release could not be judged, so it is not accepted either.
    writeUtf8(STD_ERROR_HANDLE, "OrvantiVerify: " + std::string(failure.what()) + "\n");
    return 1;
  }
}
