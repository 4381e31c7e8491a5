#include "install/installed_product.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cwctype>
#include <filesystem>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/unique_resource.h"
#include "install/installer_run.h"
#include "tests/install/install_test_support.h"
#include "tests/support/fixture_programs.h"
#include "tests/support/test_support.h"
#include "tests/support/user_error_text.h"

namespace fs = std::filesystem;

namespace {

using installtest::copyFixture;
using installtest::fileExists;
using installtest::manifestFor;
using installtest::recordLines;
using installtest::ScopedEnvironment;
using testsupport::userErrorMessage;

constexpr char kNotTheProduct[] = "インストール済みのOrvantiを確認できません。";
constexpr char kBadVersion[] = "インストール済みのバージョンを確認できません。";
constexpr char kOpenRefused[] =
    "インストール済みのOrvantiの製品情報または発行元署名を確認できません。";

// A manifest that publishes `version`; the installer it describes does not matter here.
ReleaseInfo published(const std::string& version) {
  ReleaseInfo manifest = manifestFor(testsupport::fixtureProgram(L"installer"), version);
  return manifest;
}

// What sits at <folder>\Orvanti.exe: a fixture program, a directory, or nothing.
struct Installed {
  std::wstring fixture;  // empty: nothing, unless `directory`
  bool directory = false;
};

void install(const std::wstring& folder, const Installed& what) {
  const std::wstring path = folder + L"\\Orvanti.exe";
  if (what.directory) {
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  }
  if (!what.fixture.empty()) copyFixture(what.fixture, path);
}

TEST(IsSetupRequired, DecidesFromTheInstalledExecutable) {
  struct Case {
    const char* name;
    Installed installed;
    bool expected = false;
    std::string message;  // non-empty: the decision fails with it
  };
  const std::vector<Case> cases = {
      {"no file", {}, true, ""},
      {"older version", {L"product-1.9.9.9"}, true, ""},
      {"equal version", {L"product"}, false, ""},
      {"newer version", {L"product-2.0.0.1"}, false, ""},
      // The update decision does not look at the signature.
      {"equal version, other signer", {L"product-other-signer"}, false, ""},
      {"directory in its place", {L"", true}, false, kNotTheProduct},
      {"other implementation", {L"product-other-implementation"}, false, kNotTheProduct},
      {"no implementation", {L"product-no-implementation"}, false, kNotTheProduct},
      {"an installer under the name", {L"installer"}, false, kNotTheProduct},
      {"no version resource", {L"no-version-resource"}, false, kNotTheProduct},
      {"two-dot version", {L"product-1.2.3"}, false, kBadVersion},
      {"three dots but no version", {L"product-1.2.3.x"}, false, "Invalid version"},
  };
  const ReleaseInfo manifest = published("2.0.0.0");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::TempFolder folder;
    install(folder.path(), c.installed);
    if (c.message.empty()) {
      EXPECT_EQ(isSetupRequired(manifest, folder.path()), c.expected);
    } else {
      EXPECT_EQ(userErrorMessage([&] { isSetupRequired(manifest, folder.path()); }), c.message);
    }
  }
}

TEST(IsSetupRequired, MissingOrEmptyFolderNeedsSetup) {
  const ReleaseInfo manifest = published("2.0.0.0");
  testsupport::TempFolder folder;
  EXPECT_TRUE(isSetupRequired(manifest, L""));
  EXPECT_TRUE(isSetupRequired(manifest, folder.file(L"no such folder")));
  EXPECT_TRUE(isSetupRequired(manifest, folder.file(L"no such folder\\deeper")));
}

TEST(IsSetupRequired, ValidatesTheManifestFirst) {
  ReleaseInfo manifest = published("2.0.0.0");
  manifest["product"] = "Other";
  EXPECT_EQ(userErrorMessage([&] { isSetupRequired(manifest, L""); }),
            "別製品の配布情報は使用できません。");
}

TEST(IsInstalledProductFile, NameFirstThenIdentity) {
  testsupport::TempFolder folder;
  struct Case {
    const char* name;
    std::wstring fileName;
    std::wstring fixture;
    bool expected;
  };
  const std::vector<Case> cases = {
      {"product elsewhere", L"Orvanti.exe", L"product", true},
      {"name in other case", L"oRVANTI.EXE", L"product-1.9.9.9", true},
      {"other implementation", L"Orvanti.exe", L"product-other-implementation", false},
      {"installer under the name", L"Orvanti.exe", L"installer", false},
      {"product under another name", L"Orvanti2.exe", L"product", false},
      {"product under a look-alike name", L"Orvantі.exe", L"product", false},  // Cyrillic і
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = folder.file(c.fileName);
    copyFixture(c.fixture, path);
    EXPECT_EQ(isInstalledProductFile(path), c.expected);
    ASSERT_TRUE(DeleteFileW(path.c_str()));
  }
}

// The product's own location is accepted by its path alone: nothing is read there.
TEST(IsInstalledProductFile, ExpectedPathInOtherCaseIsAcceptedWithoutReading) {
  const std::wstring expected = productFolder() + L"\\Orvanti.exe";
  ASSERT_FALSE(fileExists(expected)) << "this test needs no product in the prefix";
  std::wstring shouted = expected;
  for (wchar_t& c : shouted) c = static_cast<wchar_t>(std::towupper(c));
  EXPECT_TRUE(isInstalledProductFile(shouted));
  EXPECT_FALSE(isInstalledProductFile(productFolder() + L"\\Orvanti.exe.bak"));
}

TEST(ProductFolder, IsBelowLocalAppData) {
  const fs::path folder = productFolder();
  EXPECT_EQ(folder.filename(), L"Orvanti");
  EXPECT_EQ(folder.parent_path().filename(), L"Zarn");
  EXPECT_EQ(folder.parent_path().parent_path().filename(), L"Local");
}

class OpenInstalledProductTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)); }
  bool recorded() const { return fileExists(recordPath_); }

  testsupport::TempFolder temp_;
  const std::wstring folder_ = temp_.file(L"product folder");
  const std::wstring recordPath_ = temp_.file(L"product record.txt");
  const ScopedEnvironment recordTo_{L"ORVANTI_FIXTURE_PRODUCT_RECORD", recordPath_};
};

TEST_F(OpenInstalledProductTest, StartsTheProductWithItsQuotedPathAloneInItsFolder) {
  install(folder_, {L"product"});
  const UniqueHandle process(openInstalledProduct(folder_));
  ASSERT_TRUE(process.valid());
  ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
  const std::vector<std::string> lines = recordLines(recordPath_);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "\"" + toUtf8(folder_) + "\\Orvanti.exe\"");
  EXPECT_EQ(lines[1], toUtf8(folder_));
}

TEST_F(OpenInstalledProductTest, RefusesWhatIsNotThePinnedPublishersProduct) {
  struct Case {
    const char* name;
    Installed installed;
  };
  for (const Case& c : {Case{"other publisher", {L"product-other-signer"}},
                        Case{"other implementation", {L"product-other-implementation"}},
                        Case{"unsigned, no version resource", {L"no-version-resource"}},
                        Case{"missing", {}}, Case{"directory in its place", {L"", true}}}) {
    SCOPED_TRACE(c.name);
    testsupport::TempFolder folder;
    install(folder.path(), c.installed);
    EXPECT_EQ(userErrorMessage([&] { openInstalledProduct(folder.path()); }), kOpenRefused);
    EXPECT_FALSE(recorded());
  }
}

// The fixture installer can install the fixture product into the real product folder, as a
// release made for a demonstration would; afterwards that product is current and opens. Only
// what this test put there is removed again.
TEST(FixtureInstaller, InstallsTheProductIntoTheProductFolder) {
  const fs::path product = productFolder();
  const fs::path vendor = product.parent_path();
  if (fs::exists(product / L"Orvanti.exe")) GTEST_SKIP() << "a product is installed already";
  const bool hadVendor = fs::exists(vendor);
  const bool hadProduct = fs::exists(product);
  struct Cleanup {
    fs::path product, vendor;
    bool hadVendor, hadProduct;
    ~Cleanup() {
      std::error_code ignored;
      fs::remove(product / L"Orvanti.exe", ignored);
      if (!hadProduct) fs::remove(product, ignored);
      if (!hadVendor) fs::remove(vendor, ignored);
    }
  } cleanup{product, vendor, hadVendor, hadProduct};

  testsupport::TempFolder temp;
  UpdateCheckResult result{temp.file(L"Orvanti Setup.exe"), {}};
  copyFixture(L"installer", result.installerPath);
  result.manifest = manifestFor(result.installerPath);
  const ScopedEnvironment installs(L"ORVANTI_FIXTURE_INSTALLER_PRODUCT",
                                   testsupport::fixtureProgram(L"product"));
  ASSERT_TRUE(isSetupRequired(published("2.0.0.0"), product.wstring()));
  ASSERT_EQ(runInstaller(result, true, {}), 0u);

  EXPECT_FALSE(isSetupRequired(published("2.0.0.0"), product.wstring()));
  EXPECT_TRUE(isSetupRequired(published("2.0.0.1"), product.wstring()));
  const ScopedEnvironment recordTo(L"ORVANTI_FIXTURE_PRODUCT_RECORD", temp.file(L"record.txt"));
  const UniqueHandle process(openInstalledProduct(product.wstring()));
  ASSERT_EQ(WaitForSingleObject(process.get(), 30000), WAIT_OBJECT_0);
  EXPECT_TRUE(fileExists(temp.file(L"record.txt")));
}

}  // namespace
