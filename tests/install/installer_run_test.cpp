#include "install/installer_run.h"

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/text.h"
#include "tests/install/install_test_support.h"
#include "tests/support/test_support.h"
#include "tests/support/user_error_text.h"

namespace {

using installtest::copyFixture;
using installtest::fileExists;
using installtest::manifestFor;
using installtest::recordLines;
using installtest::ScopedEnvironment;
using installtest::tamper;
using testsupport::userErrorMessage;

constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kSharingViolation = 32;

// The fixture installer in a download folder whose path holds blanks, directed to record how it
// was started.
class InstallerRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    copyFixture(L"installer", result_.installerPath);
    result_.manifest = manifestFor(result_.installerPath);
  }

  std::vector<std::string> record() const { return recordLines(recordPath_); }
  bool recorded() const { return fileExists(recordPath_); }

  testsupport::TempFolder temp_;
  const std::wstring folder_ = temp_.file(L"download folder");
  const std::wstring recordPath_ = temp_.file(L"installer record.txt");
  const ScopedEnvironment recordTo_{L"ORVANTI_FIXTURE_INSTALLER_RECORD", recordPath_};
  UpdateCheckResult result_{folder_ + L"\\Orvanti Setup.exe", {}};
};

TEST_F(InstallerRunTest, CommandLineAndWorkingDirectory) {
  const std::string path = toUtf8(result_.installerPath);
  struct Case {
    bool silent;
    std::string commandLine;
  };
  for (const Case& c :
       {Case{true, "\"" + path + "\" /VERYSILENT /SUPPRESSMSGBOXES /NORESTART /SP-"},
        Case{false, "\"" + path + "\" /SILENT /SUPPRESSMSGBOXES /NORESTART /SP-"}}) {
    SCOPED_TRACE(c.silent ? "silent" : "window");
    ASSERT_EQ(runInstaller(result_, c.silent, {}), 0u);
    const std::vector<std::string> lines = record();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], c.commandLine);
    EXPECT_EQ(lines[1], toUtf8(folder_));
    ASSERT_TRUE(DeleteFileW(recordPath_.c_str()));
  }
}

TEST_F(InstallerRunTest, PassesTheExitCodeOnUnchanged) {
  for (const std::uint32_t code : {0u, 3010u, 5u, 4294967295u}) {
    SCOPED_TRACE(code);
    const ScopedEnvironment exitWith(L"ORVANTI_FIXTURE_INSTALLER_EXIT_CODE", std::to_wstring(code));
    EXPECT_EQ(runInstaller(result_, true, {}), code);
  }
}

TEST_F(InstallerRunTest, CallsBeforeInstallerStartOnceBeforeTheStart) {
  int calls = 0;
  EXPECT_EQ(runInstaller(result_, true,
                         [&] {
                           ++calls;
                           EXPECT_FALSE(recorded());
                         }),
            0u);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(recorded());
}

TEST_F(InstallerRunTest, FailingBeforeInstallerStartStartsNothing) {
  struct Cancelled : std::runtime_error {
    Cancelled() : std::runtime_error("cancelled") {}
  };
  EXPECT_THROW(runInstaller(result_, true, [] { throw Cancelled(); }), Cancelled);
  EXPECT_FALSE(recorded());
  // The hold is gone with the failure.
  EXPECT_EQ(tamper(L"delete", result_.installerPath), 0u);
}

TEST_F(InstallerRunTest, FileChangedAfterTheDownloadFailsTheSecondVerification) {
  copyFixture(L"installer-tampered", result_.installerPath);
  bool called = false;
  EXPECT_EQ(userErrorMessage([&] { runInstaller(result_, true, [&] { called = true; }); }),
            "インストーラのハッシュが一致しません。");
  EXPECT_FALSE(called);
  EXPECT_FALSE(recorded());
}

TEST_F(InstallerRunTest, MissingInstallerCannotBeOpened) {
  ASSERT_TRUE(DeleteFileW(result_.installerPath.c_str()));
  EXPECT_EQ(userErrorMessage([&] { runInstaller(result_, true, {}); }),
            "インストーラを開けません。");
  EXPECT_FALSE(recorded());
}

// Between the second verification and the start (inside beforeInstallerStart) another Windows
// process can read the installer but not write, delete or swap it; while the installer runs it
// still cannot rename it; once the installer has ended the file is free again.
TEST_F(InstallerRunTest, HoldsTheInstallerFromVerificationUntilItHasEnded) {
  const std::wstring replacement = temp_.file(L"replacement.exe");
  copyFixture(L"installer-other-signer", replacement);
  const std::string original = testsupport::readFile(result_.installerPath);
  const ScopedEnvironment tryRename(L"ORVANTI_FIXTURE_INSTALLER_TRY_RENAME", L"1");

  EXPECT_EQ(runInstaller(result_, true,
                         [&] {
                           EXPECT_EQ(tamper(L"read", result_.installerPath), 0u);
                           EXPECT_EQ(tamper(L"write", result_.installerPath), kSharingViolation);
                           EXPECT_EQ(tamper(L"delete", result_.installerPath), kSharingViolation);
                           EXPECT_EQ(
                               tamper(L"move", result_.installerPath, temp_.file(L"away.exe")),
                               kSharingViolation);
                           // Replacing the held file is refused with access denied under
                           // Wine 8 (moving it away with a sharing violation).
                           EXPECT_THAT(tamper(L"replace", result_.installerPath, replacement),
                                       testing::AnyOf(kAccessDenied, kSharingViolation));
                         }),
            0u);
  EXPECT_EQ(testsupport::readFile(result_.installerPath), original);
  const std::vector<std::string> lines = record();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], "rename=" + std::to_string(kSharingViolation));

  EXPECT_EQ(tamper(L"replace", result_.installerPath, replacement), 0u);
}

}  // namespace
