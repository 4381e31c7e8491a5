#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <thread>

#include "common/unique_resource.h"
#include "ui/run_state.h"

struct UpdateRunOperations;

// Posted by the update run to the window thread.
inline constexpr UINT WM_STATUS_TEXT =
    WM_APP + 1;  // lParam: heap std::wstring*, owned by the window
inline constexpr UINT WM_RUN_FINISHED = WM_APP + 2;  // the run's last act

// Ties the progress window to the update run. In silent mode only the run's fields are used.
class DownloadWindow {
 public:
  HWND hwnd = nullptr;
  HWND statusLabel = nullptr;
  HWND cancelButton = nullptr;
  HFONT font = nullptr;
  std::thread worker;
  RunState runState;  // the cancel request and the installing mark, as one state
  std::uint32_t exitCode = 1;
  std::wstring message;

  // Shows the window, runs the update on a worker thread and returns the exit code.
  std::uint32_t run(HINSTANCE instance);
  std::uint32_t run(HINSTANCE instance, const UpdateRunOperations& operations);

  // The update run (silent: no window, the installer's very-silent switch).
  void perform(bool silent);
  void perform(bool silent, const UpdateRunOperations& operations);

  // Worker thread: hands a status text to the window thread.
  void postStatusText(std::wstring text);

  // Window thread: Cancel, Escape and the close box.
  void requestCancel();

  static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void runMessageLoop();
  bool dispatchPendingMessages();
  void finishRun();

  UniqueHandle workerEnded;  // set by the worker thread after the update run has returned
  bool runFinished = false;  // window thread: the end of the run has been handled
};
