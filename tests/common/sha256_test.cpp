#include "common/sha256.h"

#include <gtest/gtest.h>

#include <regex>

#include "common/unique_resource.h"
#include "common/user_error.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::TempFolder;

// Bytes 0, 1, ..., 250, 0, 1, ...: not a run of one value, so a skipped or repeated piece changes
// the digest.
std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

struct DigestCase {
  const char* name;
  std::string content;
  const char* digest;  // computed independently (Python hashlib)
  friend void PrintTo(const DigestCase& c, std::ostream* os) { *os << c.name; }
};

class Sha256FileTest : public testing::TestWithParam<DigestCase> {};

TEST_P(Sha256FileTest, MatchesKnownDigest) {
  TempFolder folder;
  const std::wstring path = folder.file(L"data.bin");
  testsupport::writeFile(path, GetParam().content);
  EXPECT_EQ(sha256File(path), GetParam().digest);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, Sha256FileTest,
    testing::Values(DigestCase{"Empty", "",
                               "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
                    DigestCase{"Abc", "abc",
                               "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
                    // Exact multiples of the 65536-byte read: the last read delivers nothing.
                    DigestCase{"OneBlock", pattern(65536),
                               "4b640d85ab3ba30fd02c9fc9db4a8928f416322ad27022ea58a65aaee68a4df2"},
                    DigestCase{"ThreeBlocks", pattern(3 * 65536),
                               "11e854215bcfa5e4643afc5f40018131e35c127dd2baed9685f76431d1a9ea7b"},
                    DigestCase{"OddSize", pattern(100001),
                               "712c0d3feea1138391ec9b516e76f343b1c252d05b30578d43602122c5c7ab75"}),
    [](const testing::TestParamInfo<DigestCase>& info) { return std::string(info.param.name); });

TEST(Sha256File, MissingFileFailsWithMessageAndCode) {
  TempFolder folder;
  try {
    sha256File(folder.file(L"missing.bin"));
    FAIL() << "no failure";
  } catch (const UserError& error) {
    EXPECT_TRUE(std::regex_match(error.what(), std::regex(R"(File could not be hashed \(\d+\))")))
        << error.what();
  }
}

// The file is read while others hold it: a reader that shares only reading (how the downloader
// holds a verified installer) and a writer that lets readers in.
TEST(Sha256File, ReadsFileHeldByOthers) {
  TempFolder folder;
  const std::wstring path = folder.file(L"held.bin");
  testsupport::writeFile(path, "abc");
  for (const DWORD access : {DWORD{GENERIC_READ}, DWORD{GENERIC_WRITE}}) {
    SCOPED_TRACE(access == GENERIC_READ ? "held for reading" : "held for writing");
    const UniqueHandle holder(
        CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.valid()) << GetLastError();
    EXPECT_EQ(sha256File(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  }
}

}  // namespace
