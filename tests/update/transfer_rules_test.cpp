// The Content-Length conversion. Platform-free: also built natively (the secure-protocol choice,
// which reports through the platform's last-error value, is in secure_protocols_test.cpp).
#include "update/transfer_rules.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <string>

namespace {

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
  // A sign is no digit: the bare standard conversion would negate "-1" to the largest value and
  // "-18446744073709551615" to 1 (found by the Content-Length fuzz target).
  for (const wchar_t* text :
       {L"", L"abc", L" x1", L"+", L"+4", L"-1", L" -18446744073709551615", L"\t+0", L"-"}) {
    expectConversionFailure<std::invalid_argument>(text, "invalid stoull argument");
  }
  for (const wchar_t* text : {L"18446744073709551616", L"99999999999999999999999"}) {
    expectConversionFailure<std::out_of_range>(text, "stoull argument out of range");
  }
}

}  // namespace
