#include "ui/window_layout.h"

#include <algorithm>
#include <climits>

namespace {

constexpr int kDesignDpi = 96;
constexpr std::uint32_t kExitCancelled = 1223;
constexpr std::uint32_t kExitRestartRequired = 3010;

Placement scaled(int x, int y, int width, int height, int dpi) {
  return {scaleForDpi(x, dpi), scaleForDpi(y, dpi), scaleForDpi(width, dpi),
          scaleForDpi(height, dpi)};
}

// Where a length is centred between low and high (exclusive): half the room left, truncated toward
// zero, from low. Worked out in 64 bits, since the room of a work area that spans much of the
// 32-bit range does not fit in an int; a position beyond the range is held at its end.
int centred(int low, int high, int length) {
  const long long position = low + (static_cast<long long>(high) - low - length) / 2;
  return static_cast<int>(std::clamp<long long>(position, INT_MIN, INT_MAX));
}

}  // namespace

int mulDiv(int value, int multiplier, int divisor) {
  if (divisor == 0) return -1;
  long long product = static_cast<long long>(value) * multiplier;
  long long d = divisor;
  if (d < 0) {
    product = -product;
    d = -d;
  }
  // Integer division truncates toward zero: push the product half a divisor away from zero first.
  const long long result = (product >= 0 ? product + d / 2 : product - d / 2) / d;
  if (result > 2147483647LL || result < -2147483647LL) return -1;
  return static_cast<int>(result);
}

int scaleForDpi(int value, int dpi) { return mulDiv(value, dpi, kDesignDpi); }

DownloadWindowLayout downloadWindowLayout(int dpi, const ScreenRect& workArea) {
  DownloadWindowLayout layout;
  layout.frame.width = scaleForDpi(470, dpi);
  layout.frame.height = scaleForDpi(172, dpi);
  // Centred in the work area (the screen without the task bar).
  layout.frame.x = centred(workArea.left, workArea.right, layout.frame.width);
  layout.frame.y = centred(workArea.top, workArea.bottom, layout.frame.height);
  layout.statusText = scaled(20, 20, 420, 36, dpi);
  layout.progressBar = scaled(20, 60, 420, 16, dpi);
  layout.cancelButton = scaled(350, 92, 90, 26, dpi);
  layout.fontHeight = -mulDiv(9, dpi, 72);  // 9 points
  return layout;
}

FinalBox finalBoxFor(std::uint32_t exitCode, bool hasMessage) {
  // A cancelled run ends quietly although its message holds the failure's text.
  if (hasMessage && exitCode != kExitCancelled) return FinalBox::Error;
  if (exitCode == kExitRestartRequired) return FinalBox::RestartRequired;
  return FinalBox::None;
}

bool isCancelEnabled(bool installing, bool cancelRequested) {
  return !installing && !cancelRequested;
}
