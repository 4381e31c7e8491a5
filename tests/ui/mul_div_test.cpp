// The platform-free mulDiv against the platform's MulDiv: Windows build only.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "ui/window_layout.h"

namespace {

// The platform's MulDiv is the oracle for the rounding of the platform-free one.
TEST(WindowLayoutTest, MulDivRoundsAsThePlatformDoes) {
  const int values[] = {0, 1, -1, 9, -9, 26, 172, 470, 587, 1000001, INT_MAX, INT_MIN + 1};
  const int multipliers[] = {0, 1, -1, 72, 96, 120, 144, 168, 192, -120, INT_MAX};
  const int divisors[] = {96, 72, -96, 7, -7, 2, -2, 1, 0};
  for (const int value : values) {
    for (const int multiplier : multipliers) {
      for (const int divisor : divisors) {
        SCOPED_TRACE(std::to_string(value) + " * " + std::to_string(multiplier) + " / " +
                     std::to_string(divisor));
        EXPECT_EQ(mulDiv(value, multiplier, divisor), MulDiv(value, multiplier, divisor));
      }
    }
  }
}

}  // namespace
