#pragma once

#include <atomic>
#include <cstdint>

// Where the update run stands as far as Cancel is concerned.
enum class RunPhase : std::uint8_t {
  Running,          // checking and downloading; Cancel is accepted
  CancelRequested,  // the user asked to cancel; the run winds down with exit code 1223
  Installing,       // the installer is about to start or runs; Cancel is no longer accepted
};

// The phase shared by the window thread (Cancel, Escape, the close box) and the worker thread
// (just before the installer starts). Each side leaves Running with one compare-exchange, so
// exactly one of the two wins: a Cancel that the window has accepted always stops the installer
// from starting, and a started installer always ignores Cancel. `Atomic` is std::atomic<RunPhase>;
// the tests put an instrumented one in its place to interleave the two sides.
template <typename Atomic>
class BasicRunState {
 public:
  // Window thread: true when the run is being cancelled (by this call or an earlier one), false
  // when the installer has already been let start.
  bool requestCancel() {
    RunPhase expected = RunPhase::Running;
    // On failure `expected` holds the phase that was there: an earlier Cancel, or the installer.
    return phase_.compare_exchange_strong(expected, RunPhase::CancelRequested) ||
           expected == RunPhase::CancelRequested;
  }

  // Worker thread, the last act before the installer starts: true when it may start, false when
  // a Cancel came first.
  bool beginInstalling() {
    RunPhase expected = RunPhase::Running;
    return phase_.compare_exchange_strong(expected, RunPhase::Installing);
  }

  RunPhase phase() { return phase_.load(); }
  bool cancelRequested() { return phase() == RunPhase::CancelRequested; }
  bool installing() { return phase() == RunPhase::Installing; }

  // Back to the state of a new run.
  void reset() { phase_.store(RunPhase::Running); }

 private:
  Atomic phase_{RunPhase::Running};
};

using RunState = BasicRunState<std::atomic<RunPhase>>;
