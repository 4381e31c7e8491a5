#include "common/version.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/user_error_text.h"

namespace {

using testsupport::userErrorMessage;

VersionNumber parse(const std::string& text) { return parseVersion(text.data(), text.size()); }

struct ValidText {
  std::string text;
  VersionNumber expected;
};

TEST(ParseVersion, AcceptsOneToFourGroupsOfDigits) {
  const ValidText cases[] = {
      {"1.2.3.4", {1, 2, 3, 4}},
      {"1", {1, 0, 0, 0}},
      {"1.2", {1, 2, 0, 0}},
      {"1.2.3", {1, 2, 3, 0}},
      {"0.0.0.0", {0, 0, 0, 0}},
      {"65535.65535.65535.65535", {65535, 65535, 65535, 65535}},
      {"00001", {1, 0, 0, 0}},  // five characters with leading zeros
      {"007.0.12345.00000", {7, 0, 12345, 0}},
      {"10.20.30.40", {10, 20, 30, 40}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("text: \"" + c.text + "\"");
    EXPECT_EQ(parse(c.text), c.expected);
  }
}

TEST(ParseVersion, MissingTrailingPartsAreZero) {
  EXPECT_EQ(parse("1.2"), parse("1.2.0.0"));
  EXPECT_EQ(parse("7"), parse("7.0.0.0"));
}

TEST(ParseVersion, RefusesEverythingElse) {
  const std::string cases[] = {
      "",
      ".",
      "1.",
      ".1",
      "1..2",
      "1.2.3.4.5",
      "1.2.3.4.",
      " 1.2",
      "1.2 ",
      "1. 2",
      "+1",
      "-1",
      "1.a",
      "1,2",
      "0x10",
      "65536",  // one above the largest part
      "1.2.3.65536",
      "99999",   // five digits, still above the limit
      "000001",  // six characters, even though the value is 1
      "123456",
      "4294967297",  // would wrap a 32-bit value
      "1.2.3.18446744073709551617",
      "\xEF\xBC\x91",  // FULLWIDTH DIGIT ONE
      std::string("1\0", 2),
      std::string("1.\0", 3),
  };
  for (const auto& text : cases) {
    SCOPED_TRACE("text: \"" + text + "\"");
    EXPECT_EQ(userErrorMessage([&] { parse(text); }), "Invalid version");
  }
}

TEST(ParseVersion, ReadsOnlyTheGivenLength) {
  const char text[] = "1.2.x";
  EXPECT_EQ(parseVersion(text, 3), (VersionNumber{1, 2, 0, 0}));
  EXPECT_EQ(userErrorMessage([&] { parseVersion(text, 4); }), "Invalid version");  // "1.2."
}

struct Ordering {
  const char* a;
  const char* b;
  bool aIsNewer;
};

TEST(IsNewerVersion, ComparesPartsNumericallyMajorFirst) {
  const Ordering cases[] = {
      {"2.0", "1.9.9.9", true},
      {"1.9.9.9", "2.0", false},
      {"1.10", "1.9", true},  // textual order would say otherwise
      {"1.9", "1.10", false},
      {"1.2", "1.2.0.0", false},
      {"1.2.0.0", "1.2", false},
      {"0.0.0.0", "0.0.0.0", false},
      {"1.0.0.1", "1", true},
      {"1", "1.0.0.1", false},
      {"1.2.3.5", "1.2.3.4", true},
      {"1.2.4.0", "1.2.3.65535", true},
      {"2.0.0.0", "1.65535.65535.65535", true},
      {"010", "9", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("a: ") + c.a + ", b: " + c.b);
    EXPECT_EQ(isNewerVersion(c.a, c.b), c.aIsNewer);
  }
}

TEST(IsNewerVersion, FailsWhenEitherTextIsInvalid) {
  EXPECT_EQ(userErrorMessage([] { isNewerVersion("1.2.3.4", "1.2.3.x"); }), "Invalid version");
  EXPECT_EQ(userErrorMessage([] { isNewerVersion("", "1.2.3.4"); }), "Invalid version");
}

}  // namespace
