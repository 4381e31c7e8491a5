// The window's geometry and end-of-run decisions. Platform-free: also built natively (the rounding
// is compared with the platform's MulDiv in mul_div_test.cpp).
#include "ui/window_layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

void expectPlacement(const Placement& actual, int x, int y, int width, int height) {
  EXPECT_EQ(actual.x, x);
  EXPECT_EQ(actual.y, y);
  EXPECT_EQ(actual.width, width);
  EXPECT_EQ(actual.height, height);
}

struct LayoutCase {
  const char* name;
  int dpi;
  ScreenRect workArea;
  Placement frame;
  Placement statusText;
  Placement progressBar;
  Placement cancelButton;
  int fontHeight;
};

TEST(WindowLayoutTest, ScalesEveryLengthAndCentresTheFrameInTheWorkArea) {
  const LayoutCase cases[] = {
      {"96 dpi, 1920x1080 with a 40-pixel task bar at the bottom",
       96,
       {0, 0, 1920, 1040},
       {725, 434, 470, 172},
       {20, 20, 420, 36},
       {20, 60, 420, 16},
       {350, 92, 90, 26},
       -12},
      {"120 dpi: 587.5 rounds up to 588",
       120,
       {0, 0, 1920, 1040},
       {666, 412, 588, 215},
       {25, 25, 525, 45},
       {25, 75, 525, 20},
       {438, 115, 113, 33},
       -15},
      {"144 dpi",
       144,
       {0, 0, 1920, 1040},
       {607, 391, 705, 258},
       {30, 30, 630, 54},
       {30, 90, 630, 24},
       {525, 138, 135, 39},
       -18},
      {"a task bar at the top moves the frame down by half its height",
       96,
       {0, 40, 1920, 1080},
       {725, 474, 470, 172},
       {20, 20, 420, 36},
       {20, 60, 420, 16},
       {350, 92, 90, 26},
       -12},
      {"a work area on a second screen to the left",
       96,
       {-1280, 0, 0, 1024},
       {-875, 426, 470, 172},
       {20, 20, 420, 36},
       {20, 60, 420, 16},
       {350, 92, 90, 26},
       -12},
      // (400 - 470) / 2 = -35 exactly; (101 - 172) / 2 = -35.5 truncates toward zero to -35.
      {"a work area smaller than the frame",
       96,
       {0, 0, 400, 101},
       {-35, -35, 470, 172},
       {20, 20, 420, 36},
       {20, 60, 420, 16},
       {350, 92, 90, 26},
       -12},
      {"the empty rectangle of a failed work-area query",
       96,
       {0, 0, 0, 0},
       {-235, -86, 470, 172},
       {20, 20, 420, 36},
       {20, 60, 420, 16},
       {350, 92, 90, 26},
       -12},
      // Found by the geometry fuzz target: the room left overflowed an int.
      {"a work area inverted across most of the 32-bit range",
       96,
       {0, 1694498816, 144, -637534207},
       {-163, 528482219, 470, 172},
       {20, 20, 420, 36},
       {20, 60, 420, 16},
       {350, 92, 90, 26},
       -12},
      {"a work area as wide as the 32-bit range",
       96,
       {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
       {-236, -87, 470, 172},
       {20, 20, 420, 36},
       {20, 60, 420, 16},
       {350, 92, 90, 26},
       -12},
      {"72 dpi",
       72,
       {0, 0, 1024, 768},
       {335, 319, 353, 129},
       {15, 15, 315, 27},
       {15, 45, 315, 12},
       {263, 69, 68, 20},
       -9},
  };
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.name);
    const DownloadWindowLayout layout = downloadWindowLayout(c.dpi, c.workArea);
    expectPlacement(layout.frame, c.frame.x, c.frame.y, c.frame.width, c.frame.height);
    expectPlacement(layout.statusText, c.statusText.x, c.statusText.y, c.statusText.width,
                    c.statusText.height);
    expectPlacement(layout.progressBar, c.progressBar.x, c.progressBar.y, c.progressBar.width,
                    c.progressBar.height);
    expectPlacement(layout.cancelButton, c.cancelButton.x, c.cancelButton.y, c.cancelButton.width,
                    c.cancelButton.height);
    EXPECT_EQ(layout.fontHeight, c.fontHeight);
  }
}

struct FinalBoxCase {
  const char* name;
  std::uint32_t exitCode;
  bool hasMessage;
  FinalBox expected;
};

TEST(WindowLayoutTest, ChoosesAtMostOneBoxAtTheEndOfTheRun) {
  const FinalBoxCase cases[] = {
      {"installed or opened", 0, false, FinalBox::None},
      {"installer asks for a restart", 3010, false, FinalBox::RestartRequired},
      {"installer ended with 5", 5, true, FinalBox::Error},
      {"installer ended with a code above 2^31", 0xFFFFFFFFu, true, FinalBox::Error},
      {"the run failed", 1, true, FinalBox::Error},
      {"the run was cancelled: its failure text stays quiet", 1223, true, FinalBox::None},
      {"the installer itself returned 1223", 1223, false, FinalBox::None},
      {"a message always wins over the restart box", 3010, true, FinalBox::Error},
      {"a failure without a text", 1, false, FinalBox::None},
  };
  for (const FinalBoxCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(finalBoxFor(c.exitCode, c.hasMessage), c.expected);
  }
}

TEST(WindowLayoutTest, CancelStaysEnabledOnlyWhileNeitherInstallingNorCancelled) {
  EXPECT_TRUE(isCancelEnabled(/* installing */ false, /* cancelRequested */ false));
  EXPECT_FALSE(isCancelEnabled(false, true));
  EXPECT_FALSE(isCancelEnabled(true, false));
  EXPECT_FALSE(isCancelEnabled(true, true));
}

}  // namespace
