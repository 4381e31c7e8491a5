#include "update/transfer_rules.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <vector>

namespace {

// The platform's answer to each secure-protocol set, and what was asked. Windows before TLS 1.3
// support refuses the set that names it; Wine accepts any value, so the real call cannot show the
// fallback here.
struct ProtocolSetter {
  std::vector<bool> answers;
  std::vector<std::uint32_t> asked;
  bool operator()(std::uint32_t protocols) {
    asked.push_back(protocols);
    const bool accepted = answers.at(asked.size() - 1);
    if (!accepted) SetLastError(asked.size() == 1 ? ERROR_INVALID_PARAMETER : 12018);
    return accepted;
  }
};

TEST(SecureProtocols, TlsTwelveAndThirteenWhenAccepted) {
  ProtocolSetter setter{{true}, {}};
  EXPECT_TRUE(requireModernTls(std::ref(setter)));
  EXPECT_EQ(setter.asked, (std::vector<std::uint32_t>{0x2800}));
}

TEST(SecureProtocols, TlsTwelveAloneWhenThirteenIsUnknown) {
  ProtocolSetter setter{{false, true}, {}};
  EXPECT_TRUE(requireModernTls(std::ref(setter)));
  EXPECT_EQ(setter.asked, (std::vector<std::uint32_t>{0x2800, 0x800}));
}

TEST(SecureProtocols, FailsWithTheCodeOfTheSecondRefusal) {
  ProtocolSetter setter{{false, false}, {}};
  EXPECT_FALSE(requireModernTls(std::ref(setter)));
  EXPECT_EQ(setter.asked, (std::vector<std::uint32_t>{0x2800, 0x800}));
  EXPECT_EQ(GetLastError(), 12018u);
}

TEST(ContentLength, DecimalNumberAsTheStandardConversionReadsIt) {
  EXPECT_EQ(parseContentLength(L"0"), 0u);
  EXPECT_EQ(parseContentLength(L"268435456"), 268435456u);
  EXPECT_EQ(parseContentLength(L"  42"), 42u);
  EXPECT_EQ(parseContentLength(L"42abc"), 42u);
  EXPECT_EQ(parseContentLength(L"18446744073709551615"), std::numeric_limits<std::uint64_t>::max());
}

// The conversion of `text` must fail with the standard failure type `Failure` and `what`.
template <typename Failure>
void expectConversionFailure(const wchar_t* text, const char* what) {
  SCOPED_TRACE(testing::Message() << std::wstring(text));
  try {
    parseContentLength(text);
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_STREQ(failure.what(), what);
  }
}

TEST(ContentLength, TextWithoutDigitsOrTooLargeFailsWithTheStandardTexts) {
  for (const wchar_t* text : {L"", L"abc", L" x1", L"+"}) {
    expectConversionFailure<std::invalid_argument>(text, "invalid stoull argument");
  }
  for (const wchar_t* text : {L"18446744073709551616", L"99999999999999999999999"}) {
    expectConversionFailure<std::out_of_range>(text, "stoull argument out of range");
  }
}

}  // namespace
