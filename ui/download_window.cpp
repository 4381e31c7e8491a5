#include "ui/download_window.h"

#include "common/not_available.h"

std::uint32_t DownloadWindow::run(HINSTANCE) { notAvailable("DownloadWindow::run"); }

void DownloadWindow::postStatusText(std::wstring text) {
  auto* heapText = new std::wstring(std::move(text));
  if (!PostMessageW(hwnd, WM_STATUS_TEXT, 0, reinterpret_cast<LPARAM>(heapText))) delete heapText;
}

void DownloadWindow::requestCancel() {}

LRESULT CALLBACK DownloadWindow::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}
