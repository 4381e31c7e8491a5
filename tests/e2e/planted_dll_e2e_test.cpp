// The real program under Wine against the local update service with DLLs planted beside it or
// taken away: no DLL that is not a KnownDLL is ever loaded from the program's folder, and a
// system DLL that cannot be loaded fails the run like any other failure.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cwctype>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/text.h"
#include "common/version_resource.h"
#include "e2e_paths.h"
#include "late_bound_dlls.h"
#include "tests/e2e/release_run.h"
#include "tests/support/fixture_programs.h"
#include "tests/support/run_observation.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace {

using e2e::ReleaseRunTest;
using e2e::startsWith;

std::wstring programPath() { return testsupport::binDirectory() + L"\\OrvantiDownloader.exe"; }

class PlantedDllTest : public ReleaseRunTest {
 public:
  PlantedDllTest() : ReleaseRunTest(programPath(), kServiceStateDir) {}
};

// Wine's DLL load order for one program (by file name) while the object lives: `mode` for the
// named DLLs (without ".dll"). "native,builtin" makes Wine take a DLL file found on the search
// path before its built-in one, as Windows does for a DLL that is not a KnownDLL; "" makes the
// DLL unavailable. Wine takes WINEDLLOVERRIDES only from the environment that a Linux process
// gave it, not from one that a Windows program passes to its child; this per-program key of the
// prefix has the same meaning (measured 2026-12-11).
class ScopedWineDllOverrides {
 public:
  ScopedWineDllOverrides(const std::wstring& program, const std::vector<std::wstring>& dlls,
                         const std::wstring& mode)
      : key_(L"Software\\Wine\\AppDefaults\\" + program) {
    RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());  // one left by an interrupted run
    HKEY overrides = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (key_ + L"\\DllOverrides").c_str(), 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &overrides, nullptr),
              ERROR_SUCCESS);
    for (const std::wstring& dll : dlls) {
      const std::wstring name = dll.substr(0, dll.size() - 4);  // without ".dll"
      EXPECT_EQ(RegSetValueExW(overrides, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(mode.c_str()),
                               static_cast<DWORD>((mode.size() + 1) * sizeof(wchar_t))),
                ERROR_SUCCESS);
    }
    RegCloseKey(overrides);
  }
  ~ScopedWineDllOverrides() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
  ScopedWineDllOverrides(const ScopedWineDllOverrides&) = delete;
  ScopedWineDllOverrides& operator=(const ScopedWineDllOverrides&) = delete;

 private:
  std::wstring key_;
};

// Wine's own user32.dll imports version.dll (Windows' user32 is a KnownDLL and imports none but
// KnownDLLs), so under Wine a version.dll beside any GUI program is loaded with user32, and one
// that is unavailable stops every such program at its start, whatever the program does. The
// downloader treats version.dll like the other late-bound DLLs (and imports it statically no
// more: ResourcesTest.ProgramsImportOnlyKnownDllsAndAskForAslrAndDep), but Wine cannot show it.
std::vector<std::wstring> lateBoundDllsThatWineCanShow() {
  std::vector<std::wstring> dlls;
  for (const wchar_t* dll : kLateBoundDlls) {
    if (std::wstring(dll) != L"version.dll") dlls.push_back(dll);
  }
  return dlls;
}

// Files left beside the program under the names of the system DLLs that it uses and that are not
// KnownDLLs (so that Windows would look for them there first) are never loaded: every such DLL is
// late-bound from the system folder, and comctl32 comes from the side-by-side store.
TEST_F(PlantedDllTest, DllsPlantedBesideTheProgramAreNeverLoaded) {
  std::vector<std::wstring> planted = lateBoundDllsThatWineCanShow();
  planted.push_back(L"comctl32.dll");
  // A Downloads folder: the program, the planted files, and the current directory of the run.
  const testsupport::TempFolder downloads;
  const std::wstring program = downloads.file(L"OrvantiDownloader.exe");
  ASSERT_TRUE(CopyFileW(programPath().c_str(), program.c_str(), FALSE)) << GetLastError();
  for (const std::wstring& name : planted) {
    ASSERT_TRUE(CopyFileW((testsupport::binDirectory() + L"\\fixtures\\planted.dll").c_str(),
                          downloads.file(name).c_str(), FALSE))
        << GetLastError();
  }
  const ScopedWineDllOverrides overrides(L"OrvantiDownloader.exe", planted, L"native,builtin");
  const ScopedWineDllOverrides controlOverrides(L"imports-winhttp.exe", planted, L"native,builtin");
  const auto loadedPlants = [&] {
    std::vector<std::wstring> markers;
    for (const auto& entry : fs::directory_iterator(downloads.path())) {
      // Wine names the file as the import spelt it: WINHTTP.dll or winhttp.dll.
      std::wstring name = entry.path().filename().wstring();
      for (wchar_t& c : name) c = static_cast<wchar_t>(std::towlower(c));
      if (entry.path().extension() == L".loaded") markers.push_back(name);
    }
    return markers;
  };
  const auto runThere = [&](const std::wstring& path) {
    const testsupport::ProcessResult result = testsupport::runProcess(
        path, L"\"" + path + L"\" /silent", std::chrono::seconds(120), downloads.path());
    EXPECT_TRUE(result.finished);
    return result.exitCode;
  };

  // The planted files are live: a program that imports winhttp.dll statically loads the one
  // beside it (which refuses to load, so the program does not start).
  const std::wstring control = downloads.file(L"imports-winhttp.exe");
  ASSERT_TRUE(
      CopyFileW(testsupport::fixtureProgram(L"imports-winhttp").c_str(), control.c_str(), FALSE))
      << GetLastError();
  EXPECT_NE(runThere(control), 0u);
  ASSERT_EQ(loadedPlants(), (std::vector<std::wstring>{L"winhttp.dll.loaded"}));
  for (const auto& entry : fs::directory_iterator(downloads.path())) {
    if (entry.path().extension() == L".loaded") fs::remove(entry.path());
  }

  // A fresh install, then the current product opened: the runs end as they would without the
  // planted files.
  publish(L"sample-setup-1.0.0.0", "1.0.0.0");
  EXPECT_EQ(runThere(program), 0u);
  EXPECT_EQ(eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_finished"}));
  EXPECT_EQ(readVersionString(productExecutable().wstring(), L"ProductVersion"), L"1.0.0.0");
  logBefore = testsupport::eventLogLines().size();
  EXPECT_EQ(runThere(program), 0u);
  EXPECT_EQ(eventNames(),
            (std::vector<std::string>{"downloader_started", "downloader_setup_not_required",
                                      "downloader_gui_open_requested"}));
  EXPECT_EQ(loadedPlants(), std::vector<std::wstring>{}) << "a planted DLL was loaded";
  expectNothingLeftBehind();
}

// A late-bound system DLL that cannot be loaded fails the run like any other failure, naming the
// DLL: exit code 1 and a "downloader_failed" record, not a crash of the first call into it.
TEST_F(PlantedDllTest, MissingSystemDllFailsTheRunWithItsName) {
  publish(L"sample-setup-1.0.0.0", "1.0.0.0");
  // A copy under a name of its own, so that no other program run ever sees the DLL taken away.
  const testsupport::TempFolder folder;
  const std::wstring name = L"OrvantiDownloader-missing-dll.exe";
  const std::wstring program = folder.file(name);
  ASSERT_TRUE(CopyFileW(programPath().c_str(), program.c_str(), FALSE)) << GetLastError();
  for (const std::wstring& file : lateBoundDllsThatWineCanShow()) {
    SCOPED_TRACE(toUtf8(file));
    fs::remove(installerRecord);
    const ScopedWineDllOverrides overrides(name, {file}, L"");
    logBefore = testsupport::eventLogLines().size();

    const testsupport::ProcessResult result = testsupport::runProcess(
        program, L"\"" + program + L"\" /silent", std::chrono::seconds(120));
    EXPECT_TRUE(result.finished);
    EXPECT_EQ(result.exitCode, 1u) << std::hex << result.exitCode;
    ASSERT_EQ(eventNames(), (std::vector<std::string>{"downloader_started", "downloader_failed"}));
    EXPECT_EQ(events().at(1)["exitCode"], 1);
    EXPECT_TRUE(startsWith(events().at(1)["message"].get<std::string>(),
                           "システムファイル " + toUtf8(file) + " を読み込めませんでした。 ("))
        << events().at(1).dump();
    EXPECT_FALSE(fs::exists(installerRecord)) << "an installer was started";
    expectNothingLeftBehind();
  }
}

// The one slow case: a body that never ends is given up after the receive time-out (30 s).
}  // namespace
