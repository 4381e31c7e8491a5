// Strict UTF-16/UTF-8 conversions, the failure text that ensure() builds, and the owning handle.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"
#include "common/unique_resource.h"
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

TEST(EnsureTest, PassesSilentlyOrThrowsTheMessageWithTheLastErrorCode) {
  SetLastError(1234);
  EXPECT_NO_THROW(ensure(true, "never"));
  EXPECT_EQ(GetLastError(), 1234u);

  struct Case {
    DWORD code;
    const char* expected;
  };
  const Case cases[] = {
      {0, "ダウンロード用フォルダを作成できません。 (0)"},
      {5, "ダウンロード用フォルダを作成できません。 (5)"},
      {0xC0000005, "ダウンロード用フォルダを作成できません。 (3221225477)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    try {
      SetLastError(c.code);
      ensure(false, "ダウンロード用フォルダを作成できません。");
      ADD_FAILURE() << "nothing thrown";
    } catch (const UserError& error) {
      EXPECT_STREQ(error.what(), c.expected);
      // One of the standard family, so the top-level handlers catch it.
      EXPECT_NE(dynamic_cast<const std::runtime_error*>(&error), nullptr);
    }
  }
}

// A handle whose closing changes the last-error value, as a failing CloseHandle would.
struct NoisyCloseTraits : KernelHandleTraits {
  static void close(HANDLE handle) noexcept {
    CloseHandle(handle);
    SetLastError(ERROR_INVALID_HANDLE);
  }
};

TEST(UniqueHandleTest, ClosesOnceKeepsTheLastErrorAndTreatsBothNoneValuesAlike) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD flags = 0;
  {
    UniqueResource<NoisyCloseTraits> owner(event);
    EXPECT_TRUE(owner.valid());
    SetLastError(0xBEEF);  // the code of a failed call that unwinding must not overwrite
  }
  EXPECT_EQ(GetLastError(), 0xBEEFu);
  EXPECT_FALSE(GetHandleInformation(event, &flags)) << "not closed";

  EXPECT_FALSE(UniqueHandle(nullptr).valid());
  EXPECT_FALSE(UniqueHandle(INVALID_HANDLE_VALUE).valid());

  HANDLE kept = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  UniqueHandle first(kept);
  UniqueHandle second(std::move(first));
  EXPECT_FALSE(first.valid());
  EXPECT_EQ(second.get(), kept);
  const HANDLE released = second.release();
  EXPECT_FALSE(second.valid());
  EXPECT_TRUE(GetHandleInformation(released, &flags)) << "release() must not close";
  CloseHandle(released);
}

}  // namespace
