#include "storage/download_folder.h"

#include <windows.h>
#include <sddl.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "common/unique_resource.h"
#include "common/user_error.h"
#include "tests/storage/folder_access.h"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

constexpr wchar_t kPrefix[] = L"OrvantiDownloader-";

bool isUpperHex(const std::wstring& text) {
  return text.find_first_not_of(L"0123456789ABCDEF") == std::wstring::npos;
}

// Removes a folder a test made by hand, whatever is left in it.
struct FolderCleanup {
  fs::path path;
  ~FolderCleanup() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
};

}  // namespace

TEST(DownloadFolderTest, TwoConstructionsGiveTwoFreshHexNamesInTheTemporaryFolder) {
  fs::path first, second;
  {
    const DownloadFolder a;
    const DownloadFolder b;
    first = a.path();
    second = b.path();
    EXPECT_TRUE(fs::is_directory(first));
    EXPECT_TRUE(fs::is_directory(second));
    EXPECT_NE(first, second);
    for (const fs::path& path : {first, second}) {
      SCOPED_TRACE(path.string());
      EXPECT_EQ(path, fs::temp_directory_path() / path.filename());
      const std::wstring name = path.filename().wstring();
      ASSERT_EQ(name.size(), std::wstring(kPrefix).size() + 32);
      EXPECT_EQ(name.substr(0, 18), kPrefix);
      EXPECT_TRUE(isUpperHex(name.substr(18))) << path.string();
    }
  }
  EXPECT_FALSE(fs::exists(first));
  EXPECT_FALSE(fs::exists(second));
}

TEST(DownloadFolderTest, UniqueIdsAreThirtyTwoUpperHexDigits) {
  const std::string a = newUniqueId();
  const std::string b = newUniqueId();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_TRUE(isUpperHex(std::wstring(a.begin(), a.end()))) << a;
  EXPECT_NE(a, b);
}

TEST(DownloadFolderTest, CurrentUserSidIsTheTokenUser) {
  const std::wstring sid = currentUserSid();
  EXPECT_EQ(sid.rfind(L"S-1-", 0), 0u) << fs::path(sid).string();
  // The platform parses it back into a SID that is valid.
  UniqueLocalMemory<PSID> parsed;
  ASSERT_TRUE(ConvertStringSidToSidW(sid.c_str(), parsed.put()));
  EXPECT_TRUE(IsValidSid(parsed.get()));
}

TEST(DownloadFolderTest, ThePrivateDescriptorTextIsWhatThePlatformParses) {
  const std::wstring sddl = privateFolderSddl(currentUserSid());
  UniqueLocalMemory<PSECURITY_DESCRIPTOR> descriptor;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                                   descriptor.put(), nullptr));
  UniqueLocalMemory<LPWSTR> text;
  ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
      descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, text.put(), nullptr));
  EXPECT_EQ(std::wstring(text.get()), sddl);
}

// Windows keeps the descriptor given at creation, so the folder's DACL reads back as that very
// text. Wine keeps Unix mode bits instead and enforces nothing; what it shows is only that the
// folder was made private (no entry for Everyone).
TEST(DownloadFolderTest, TheFolderAdmitsOnlyTheSystemTheAdministratorsAndTheUser) {
  const std::wstring sid = currentUserSid();
  const DownloadFolder folder;
  EXPECT_TRUE(admitsOnlySystemAdministratorsAnd(folder.path(), sid))
      << fs::path(readFolderAccess(folder.path()).daclSddl).string();
  if (!runningUnderWine()) {
    EXPECT_EQ(readFolderAccess(folder.path()).daclSddl, privateFolderSddl(sid));
  }
}

TEST(DownloadFolderTest, AnExistingFolderOfTheSameNameIsNotReused) {
  const std::wstring name = kPrefix + fs::path(newUniqueId()).wstring();
  const FolderCleanup existing{fs::temp_directory_path() / name};
  ASSERT_TRUE(fs::create_directory(existing.path));
  writeFile((existing.path / L"OrvantiSetup.exe").wstring(), "planted");
  try {
    const DownloadFolder folder(name);
    FAIL() << "an existing folder was accepted";
  } catch (const UserError& error) {
    EXPECT_STREQ(error.what(), "ダウンロード用フォルダを作成できません。 (183)");
  }
  EXPECT_EQ(readFile((existing.path / L"OrvantiSetup.exe").wstring()), "planted");
}

TEST(DownloadFolderTest, DestructionRemovesTheInstallerAndTheFolderWhenNothingElseIsLeft) {
  struct Case {
    const char* name;
    bool installer;
    bool otherFile;
  };
  for (const Case& c :
       {Case{"never downloaded", false, false}, Case{"installer", true, false},
        Case{"installer and another file", true, true}, Case{"another file only", false, true}}) {
    SCOPED_TRACE(c.name);
    fs::path path;
    {
      const DownloadFolder folder;
      path = folder.path();
      if (c.installer) writeFile((path / L"OrvantiSetup.exe").wstring(), "MZ");
      if (c.otherFile) writeFile((path / L"notes.txt").wstring(), "left by someone");
    }
    const FolderCleanup cleanup{path};
    EXPECT_FALSE(fs::exists(path / L"OrvantiSetup.exe"));
    EXPECT_EQ(fs::exists(path), c.otherFile);
    if (c.otherFile) {
      EXPECT_EQ(readFile((path / L"notes.txt").wstring()), "left by someone");
    }
  }
}
