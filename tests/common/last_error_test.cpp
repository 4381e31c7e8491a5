// The failure text that ensure() builds from the thread's last-error value, and the owning handle
// that keeps that value while it closes. They need the platform's SetLastError: Windows build only.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/unique_resource.h"
#include "common/user_error.h"

namespace {

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
