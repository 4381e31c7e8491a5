#include "install/installer_verification.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "common/unique_resource.h"
#include "install/publisher_signature.h"
#include "tests/install/install_test_support.h"
#include "tests/support/test_support.h"
#include "tests/support/user_error_text.h"

namespace {

using installtest::copyFixture;
using installtest::manifestFor;
using testsupport::userErrorMessage;

constexpr char kSizeMessage[] = "インストーラのサイズが一致しません。";
constexpr char kDigestMessage[] = "インストーラのハッシュが一致しません。";
constexpr char kSignatureMessage[] = "インストーラの発行元署名を確認できません。";
constexpr char kIdentityMessage[] = "インストーラの製品またはバージョンが一致しません。";

// The manifest describes `described` (a fixture); the file checked is a copy of `actual`.
struct VerificationCase {
  const char* name;
  std::wstring described;
  std::wstring actual;
  std::function<void(ReleaseInfo&)> change;  // applied to the manifest; may be empty
  std::string message;                       // empty: the verification passes
};

TEST(VerifyInstaller, ChecksInOrderAndStopsAtTheFirstFailure) {
  const auto upperCaseDigest = [](ReleaseInfo& m) {
    std::string digest = m["sha256"];
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    m["sha256"] = digest;
  };
  const auto sizeBy = [](int delta) {
    return [delta](ReleaseInfo& m) { m["sizeBytes"] = m["sizeBytes"].get<std::int64_t>() + delta; };
  };
  const std::vector<VerificationCase> cases = {
      {"matching installer", L"installer", L"installer", {}, ""},
      {"upper-case manifest digest", L"installer", L"installer", upperCaseDigest, ""},
      {"trailing blank in the file's version",
       L"installer-trailing-blank",
       L"installer-trailing-blank",
       {},
       ""},
      {"one byte short", L"installer", L"installer", sizeBy(1), kSizeMessage},
      {"one byte long", L"installer", L"installer", sizeBy(-1), kSizeMessage},
      // The changed byte also breaks the signature: the digest check comes first.
      {"one byte changed", L"installer", L"installer-tampered", {}, kDigestMessage},
      {"changed after signing",
       L"installer-tampered",
       L"installer-tampered",
       {},
       kSignatureMessage},
      {"unsigned", L"installer-unsigned", L"installer-unsigned", {}, kSignatureMessage},
      {"another publisher",
       L"installer-other-signer",
       L"installer-other-signer",
       {},
       kSignatureMessage},
      {"untrusted root", L"installer-untrusted", L"installer-untrusted", {}, kSignatureMessage},
      {"product name in lower case",
       L"installer-lowercase-product",
       L"installer-lowercase-product",
       {},
       kIdentityMessage},
      {"no description",
       L"installer-no-description",
       L"installer-no-description",
       {},
       kIdentityMessage},
      {"file version 1.2 for 1.2.0.0",
       L"installer-short-version",
       L"installer-short-version",
       {},
       kIdentityMessage},
      {"other published version", L"installer", L"installer",
       [](ReleaseInfo& m) { m["latestVersion"] = "1.2.0.1"; }, kIdentityMessage},
  };
  testsupport::TempFolder folder;
  for (const VerificationCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = folder.file(L"Orvanti Setup.exe");
    copyFixture(c.described, path);
    ReleaseInfo manifest = manifestFor(path);
    if (c.change) c.change(manifest);
    copyFixture(c.actual, path);
    if (c.message.empty()) {
      EXPECT_NO_THROW(verifyInstaller(manifest, path));
    } else {
      EXPECT_EQ(userErrorMessage([&] { verifyInstaller(manifest, path); }), c.message);
    }
  }
}

TEST(VerifyInstaller, MissingFileOrDirectoryFailsTheSizeCheck) {
  testsupport::TempFolder folder;
  const std::wstring path = folder.file(L"Orvanti Setup.exe");
  copyFixture(L"installer", path);
  const ReleaseInfo manifest = manifestFor(path);
  ASSERT_TRUE(DeleteFileW(path.c_str()));
  EXPECT_EQ(userErrorMessage([&] { verifyInstaller(manifest, path); }), kSizeMessage);
  EXPECT_EQ(userErrorMessage([&] { verifyInstaller(manifest, folder.file(L"no such\\x.exe")); }),
            kSizeMessage);
  ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
  EXPECT_EQ(userErrorMessage([&] { verifyInstaller(manifest, path); }), kSizeMessage);
}

TEST(VerifyInstaller, InvalidManifestFailsBeforeTheFileIsLookedAt) {
  testsupport::TempFolder folder;
  const std::wstring path = folder.file(L"Orvanti Setup.exe");
  copyFixture(L"installer", path);
  ReleaseInfo manifest = manifestFor(path);
  manifest["sizeBytes"] = 0;
  ASSERT_TRUE(DeleteFileW(path.c_str()));  // a look at the file would give the size message
  EXPECT_EQ(userErrorMessage([&] { verifyInstaller(manifest, path); }),
            "配布サイズが上限を超えています。");
}

// An exclusive hold lets the size be read from the directory but makes any reading of the
// content fail: a wrong size must be reported without the digest being computed.
TEST(VerifyInstaller, WrongSizeNeverReadsTheContent) {
  testsupport::TempFolder folder;
  const std::wstring path = folder.file(L"Orvanti Setup.exe");
  copyFixture(L"installer", path);
  ReleaseInfo manifest = manifestFor(path);
  const UniqueHandle exclusive(CreateFileW(path.c_str(), GENERIC_READ, /* dwShareMode */ 0, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(exclusive.valid());

  // With the right size the digest is computed, and the hold makes it fail.
  try {
    verifyInstaller(manifest, path);
    ADD_FAILURE() << "the exclusive hold did not stop the digest";
  } catch (const std::exception& error) {
    EXPECT_NE(std::string(error.what()).rfind(kSizeMessage, 0), 0u) << error.what();
  }

  manifest["sizeBytes"] = manifest["sizeBytes"].get<std::int64_t>() + 1;
  EXPECT_EQ(userErrorMessage([&] { verifyInstaller(manifest, path); }), kSizeMessage);
}

// WinVerifyTrust loads imagehlp.dll into the process (measured under Wine 8) and nothing else
// in the verification does: its absence after a failed digest shows the signature was not asked.
TEST(VerifyInstaller, WrongDigestNeverAsksForTheSignature) {
  if (GetModuleHandleW(L"imagehlp.dll") != nullptr) {
    GTEST_SKIP() << "imagehlp.dll is loaded from the start here; the probe cannot tell";
  }
  testsupport::TempFolder folder;
  const std::wstring path = folder.file(L"Orvanti Setup.exe");
  copyFixture(L"installer", path);
  const ReleaseInfo manifest = manifestFor(path);
  copyFixture(L"installer-tampered", path);

  EXPECT_EQ(userErrorMessage([&] { verifyInstaller(manifest, path); }), kDigestMessage);
  EXPECT_EQ(GetModuleHandleW(L"imagehlp.dll"), nullptr);

  EXPECT_FALSE(verifyPublisherSignature(path));  // the probe itself works
  EXPECT_NE(GetModuleHandleW(L"imagehlp.dll"), nullptr);
}

}  // namespace
