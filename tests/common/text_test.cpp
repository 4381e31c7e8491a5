// Strict UTF-16/UTF-8 conversions. Platform-free: also built natively (the last-error value of a
// failure and the owning handle are tested in last_error_test.cpp, on Windows only).
#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "common/user_error.h"

namespace {

std::string failureText(void (*action)()) {
  try {
    action();
  } catch (const UserError& error) {
    return error.what();
  }
  return "(nothing thrown)";
}

TEST(TextTest, ConvertsBothWaysByLengthKeepingNulsAndJapanese) {
  EXPECT_EQ(toUtf8(L""), "");
  EXPECT_EQ(toUtf16(""), L"");

  const std::wstring withNul(L"a\0b", 3);
  EXPECT_EQ(toUtf8(withNul), std::string("a\0b", 3));
  EXPECT_EQ(toUtf16(std::string("a\0b", 3)), withNul);

  const std::string japanese = "オルバンティのインストール";
  EXPECT_EQ(toUtf16(japanese), L"オルバンティのインストール");
  EXPECT_EQ(toUtf8(toUtf16(japanese)), japanese);
  // A character outside the basic plane travels as a surrogate pair.
  EXPECT_EQ(toUtf16("\xF0\x9F\x98\x80"), L"\xD83D\xDE00");
}

TEST(TextTest, RefusesMalformedInputWithTheCodeInParentheses) {
  struct Case {
    const char* name;
    void (*convert)();
    const char* message;
  };
  const Case cases[] = {
      {"unpaired high surrogate", [] { toUtf8(std::wstring(1, L'\xD800')); },
       "Invalid Unicode text ("},
      {"unpaired low surrogate inside", [] { toUtf8(L"a\xDC00z"); }, "Invalid Unicode text ("},
      {"lone continuation byte", [] { toUtf16("\x80"); }, "Invalid UTF-8 text ("},
      {"lead byte at the end", [] { toUtf16("abc\xE3"); }, "Invalid UTF-8 text ("},
      {"overlong slash", [] { toUtf16("\xC0\xAF"); }, "Invalid UTF-8 text ("},
      {"encoded surrogate", [] { toUtf16("\xED\xA0\x80"); }, "Invalid UTF-8 text ("},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = failureText(c.convert);
    EXPECT_EQ(text.rfind(c.message, 0), 0u) << text;
    EXPECT_EQ(text.back(), ')') << text;
  }
}

TEST(TextTest, LenientConversionRepairsOnlyWhatIsBroken) {
  EXPECT_EQ(toUtf16Lenient("ダウンロード"), L"ダウンロード");
  const std::wstring repaired = toUtf16Lenient("disk \xFF full");
  EXPECT_NE(repaired.find(L'\xFFFD'), std::wstring::npos);
  EXPECT_EQ(repaired.substr(0, 5), L"disk ");
  EXPECT_EQ(repaired.substr(repaired.size() - 5), L" full");
  EXPECT_EQ(toUtf16Lenient(""), L"");
}

}  // namespace
