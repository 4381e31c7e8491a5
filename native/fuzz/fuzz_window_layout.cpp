// The window geometry for any DPI and work area, and mulDiv for any operands. Input: eight
// little-endian 32-bit integers (missing bytes are zero): dpi, the work area's left, top, right and
// bottom, then a value, a multiplier and a divisor. Under the sanitizers any overflow aborts; the
// results are compared with the same arithmetic done exactly in 128 bits.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

#include "native/fuzz/fuzz_support.h"
#include "ui/window_layout.h"

using fuzzsupport::check;

namespace {

// value * multiplier / divisor rounded half away from zero; -1 when the divisor is zero or the
// result lies outside -2147483647..2147483647.
int exactMulDiv(int value, int multiplier, int divisor) {
  if (divisor == 0) return -1;
  const __int128 product = static_cast<__int128>(value) * multiplier;
  const bool negative = (product < 0) != (divisor < 0);
  const __int128 p = product < 0 ? -product : product;
  const __int128 d = divisor < 0 ? -static_cast<__int128>(divisor) : divisor;
  __int128 q = p / d;
  if (2 * (p % d) >= d) ++q;
  const __int128 result = negative ? -q : q;
  if (result > INT_MAX || result < -INT_MAX) return -1;
  return static_cast<int>(result);
}

// Where a length is centred between low and high: the truncating halving of the room left, from
// low; a position beyond the 32-bit range is held at its end.
int centred(int low, int high, int length) {
  const __int128 room = static_cast<__int128>(high) - low - length;
  const __int128 position = low + room / 2;
  if (position > INT_MAX) return INT_MAX;
  if (position < INT_MIN) return INT_MIN;
  return static_cast<int>(position);
}

std::string placement(const Placement& p) {
  return std::to_string(p.x) + "," + std::to_string(p.y) + " " + std::to_string(p.width) + "x" +
         std::to_string(p.height);
}

void expectScaled(const Placement& actual, int x, int y, int width, int height, int dpi,
                  const char* what) {
  const Placement expected{exactMulDiv(x, dpi, 96), exactMulDiv(y, dpi, 96),
                           exactMulDiv(width, dpi, 96), exactMulDiv(height, dpi, 96)};
  check(actual.x == expected.x && actual.y == expected.y && actual.width == expected.width &&
            actual.height == expected.height,
        what, placement(actual) + " instead of " + placement(expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::int32_t n[8] = {};
  std::memcpy(n, data, std::min(size, sizeof(n)));
  const int dpi = n[0];
  const ScreenRect workArea{n[1], n[2], n[3], n[4]};

  const int muldiv = mulDiv(n[5], n[6], n[7]);
  check(muldiv == exactMulDiv(n[5], n[6], n[7]), "mulDiv rounds differently",
        std::to_string(n[5]) + " * " + std::to_string(n[6]) + " / " + std::to_string(n[7]));

  const DownloadWindowLayout layout = downloadWindowLayout(dpi, workArea);
  const int width = exactMulDiv(470, dpi, 96);
  const int height = exactMulDiv(172, dpi, 96);
  const Placement frame{centred(workArea.left, workArea.right, width),
                        centred(workArea.top, workArea.bottom, height), width, height};
  check(layout.frame.x == frame.x && layout.frame.y == frame.y &&
            layout.frame.width == frame.width && layout.frame.height == frame.height,
        "frame", placement(layout.frame) + " instead of " + placement(frame));
  expectScaled(layout.statusText, 20, 20, 420, 36, dpi, "status text");
  expectScaled(layout.progressBar, 20, 60, 420, 16, dpi, "progress bar");
  expectScaled(layout.cancelButton, 350, 92, 90, 26, dpi, "cancel button");
  check(layout.fontHeight == -exactMulDiv(9, dpi, 72), "font height",
        std::to_string(layout.fontHeight));
  return 0;
}
