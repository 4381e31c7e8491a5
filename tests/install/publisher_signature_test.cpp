#include "install/publisher_signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "build_constants.h"
#include "common/unique_resource.h"
#include "test_pki.h"
#include "tests/support/fixture_programs.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::fixtureProgram;

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

struct SignatureCase {
  const char* test;
  std::wstring fixture;  // name under bin\fixtures, without ".exe"
  std::string pinned;
  bool expected;
  friend void PrintTo(const SignatureCase& c, std::ostream* os) { *os << c.test; }
};

class PublisherSignatureTest : public testing::TestWithParam<SignatureCase> {};

// The fixtures are the same program signed by each leaf of the test PKI (tests/fixtures).
TEST_P(PublisherSignatureTest, Verifies) {
  EXPECT_EQ(verifyPublisherSignature(fixtureProgram(GetParam().fixture), GetParam().pinned),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PublisherSignatureTest,
    testing::Values(
        SignatureCase{"PinnedPublisher", L"signed-publisher", kTestPublisherThumbprint, true},
        SignatureCase{"UpperCasePin", L"signed-publisher", upper(kTestPublisherThumbprint), true},
        // A valid signature under the trusted root, but not by the pinned publisher.
        SignatureCase{"OtherPublisher", L"signed-other", kTestPublisherThumbprint, false},
        // The same file passes when its own signer is pinned: the refusal above is the pin's.
        SignatureCase{"OtherPublisherPinned", L"signed-other", kTestOtherPublisherThumbprint, true},
        // Pinned to its own signer, refused only because its root is not trusted.
        SignatureCase{"UntrustedRoot", L"signed-untrusted", kTestUntrustedThumbprint, false},
        SignatureCase{"Unsigned", L"signed-none", kTestPublisherThumbprint, false},
        SignatureCase{"ChangedAfterSigning", L"signed-publisher-tampered", kTestPublisherThumbprint,
                      false},
        SignatureCase{"MissingFile", L"does-not-exist", kTestPublisherThumbprint, false},
        SignatureCase{"PinPrefixOnly", L"signed-publisher",
                      std::string(kTestPublisherThumbprint).substr(0, 39), false},
        SignatureCase{"EmptyPin", L"signed-publisher", "", false}),
    [](const testing::TestParamInfo<SignatureCase>& info) { return std::string(info.param.test); });

TEST(PublisherSignature, NonProgramFileIsRefused) {
  testsupport::TempFolder folder;
  const std::wstring path = folder.file(L"plain.exe");
  testsupport::writeFile(path, "not a program");
  EXPECT_FALSE(verifyPublisherSignature(path, kTestPublisherThumbprint));
}

// The downloader holds the file with read sharing only while it checks it.
TEST(PublisherSignature, VerifiesFileHeldForReading) {
  const std::wstring path = fixtureProgram(L"signed-publisher");
  const UniqueHandle holder(
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(holder.valid()) << GetLastError();
  EXPECT_TRUE(verifyPublisherSignature(path, kTestPublisherThumbprint));
}

TEST(PublisherSignature, DefaultPinIsTheBuildsPublisher) {
  if (std::string(kPinnedSignerThumbprint) != kTestPublisherThumbprint) {
    GTEST_SKIP() << "this build pins " << kPinnedSignerThumbprint << ", not the test publisher";
  }
  EXPECT_TRUE(verifyPublisherSignature(fixtureProgram(L"signed-publisher")));
  EXPECT_FALSE(verifyPublisherSignature(fixtureProgram(L"signed-other")));
}

// The tampered fixture must differ from the signed one by exactly one byte, or the test above
// would prove nothing about the digest check.
TEST(PublisherSignature, TamperedFixtureDiffersByOneByte) {
  const std::string signedFile = testsupport::readFile(fixtureProgram(L"signed-publisher"));
  const std::string tampered = testsupport::readFile(fixtureProgram(L"signed-publisher-tampered"));
  ASSERT_EQ(signedFile.size(), tampered.size());
  ASSERT_FALSE(signedFile.empty());
  std::size_t differences = 0;
  for (std::size_t i = 0; i < signedFile.size(); ++i) differences += signedFile[i] != tampered[i];
  EXPECT_EQ(differences, 1u);
}

}  // namespace
