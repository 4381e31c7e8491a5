#pragma once

// The progress window's geometry and its end-of-run decisions: plain arithmetic and logic, no
// platform header, so that they can be built and checked anywhere.

#include <cstdint>

// A rectangle as the platform reports a work area: right and bottom are exclusive.
struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
};

struct Placement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct DownloadWindowLayout {
  Placement frame;       // screen coordinates, outer size
  Placement statusText;  // the rest in the frame's client coordinates
  Placement progressBar;
  Placement cancelButton;
  int fontHeight = 0;  // negative: a character height in pixels
};

// value * multiplier / divisor rounded to the nearest integer, halves away from zero, as the
// platform's MulDiv does; -1 for a zero divisor or a result outside the 32-bit range.
int mulDiv(int value, int multiplier, int divisor);

// A length in 1/96 inch at `dpi` pixels per inch.
int scaleForDpi(int value, int dpi);

// The positions and sizes of the frame and its controls at `dpi`, the frame centred in `workArea`.
DownloadWindowLayout downloadWindowLayout(int dpi, const ScreenRect& workArea);

// The one box, if any, that the window shows when the update run has ended.
enum class FinalBox {
  None,
  Error,            // the run's message, with the error icon
  RestartRequired,  // the installer asked for a restart of Windows
};
FinalBox finalBoxFor(std::uint32_t exitCode, bool hasMessage);

// Whether a status text leaves the Cancel button enabled.
bool isCancelEnabled(bool installing, bool cancelRequested);
