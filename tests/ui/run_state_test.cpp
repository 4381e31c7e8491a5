#include "ui/run_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace {

using Phase = RunPhase;

// Every order in which the window's Cancel and the worker's start of the installer can reach the
// state: whichever comes first wins, and the loser learns it.
TEST(RunStateTest, CancelAndTheStartOfTheInstallerExcludeEachOther) {
  enum Step { Cancel, Install };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<bool> answers;
    Phase end;
  };
  const Case cases[] = {
      {"nothing happens", {}, {}, Phase::Running},
      {"cancel alone", {Cancel}, {true}, Phase::CancelRequested},
      {"cancel, then the installer", {Cancel, Install}, {true, false}, Phase::CancelRequested},
      {"the installer, then cancel", {Install, Cancel}, {true, false}, Phase::Installing},
      {"cancel twice (button, then close box)",
       {Cancel, Cancel},
       {true, true},
       Phase::CancelRequested},
      {"cancel twice, then the installer",
       {Cancel, Cancel, Install},
       {true, true, false},
       Phase::CancelRequested},
      {"the installer, then cancel twice",
       {Install, Cancel, Cancel},
       {true, false, false},
       Phase::Installing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunState state;
    std::vector<bool> answers;
    for (const Step step : c.steps) {
      answers.push_back(step == Cancel ? state.requestCancel() : state.beginInstalling());
    }
    EXPECT_EQ(answers, c.answers);
    EXPECT_EQ(state.phase(), c.end);
    EXPECT_EQ(state.cancelRequested(), c.end == Phase::CancelRequested);
    EXPECT_EQ(state.installing(), c.end == Phase::Installing);
  }
}

// An atomic that lets the other thread's whole call run just before its n-th access: the state's
// way of being preempted at that point. Only one state is interleaved at a time.
struct InterleavedAtomic {
  static inline int accessesBeforeSwitch = -1;
  static inline std::function<void()> otherSide;

  std::atomic<Phase> value;
  explicit InterleavedAtomic(Phase initial) : value(initial) {}

  void beforeAccess() {
    if (accessesBeforeSwitch-- == 0 && otherSide) {
      const std::function<void()> run = std::move(otherSide);
      otherSide = nullptr;
      run();
    }
  }
  Phase load() {
    beforeAccess();
    return value.load();
  }
  void store(Phase phase) {
    beforeAccess();
    value.store(phase);
  }
  bool compare_exchange_strong(Phase& expected, Phase desired) {
    beforeAccess();
    return value.compare_exchange_strong(expected, desired);
  }
};

// Cancel pressed at every point inside the worker's start of the installer, and the installer's
// start at every point inside a Cancel: exactly one side wins each time, and the state says which
// (the window then shows the truth: a disabled Cancel and "cancelling" only when the installer
// will not start).
TEST(RunStateTest, ExactlyOneSideWinsAtEveryInterleaving) {
  for (const bool cancelFirst : {true, false}) {
    for (int switchAt = 0; switchAt < 4; ++switchAt) {
      SCOPED_TRACE(std::string(cancelFirst ? "Cancel" : "the installer's start") +
                   " interrupted before its access " + std::to_string(switchAt));
      BasicRunState<InterleavedAtomic> state;
      bool cancelAccepted = false;
      bool installAllowed = false;
      const std::function<void()> cancel = [&] { cancelAccepted = state.requestCancel(); };
      const std::function<void()> install = [&] { installAllowed = state.beginInstalling(); };
      InterleavedAtomic::accessesBeforeSwitch = switchAt;
      InterleavedAtomic::otherSide = cancelFirst ? install : cancel;
      (cancelFirst ? cancel : install)();
      // A call with fewer accesses than switchAt has ended before the other side ran.
      if (InterleavedAtomic::otherSide) {
        const std::function<void()> rest = std::move(InterleavedAtomic::otherSide);
        InterleavedAtomic::otherSide = nullptr;
        rest();
      }
      InterleavedAtomic::accessesBeforeSwitch = -1;

      EXPECT_NE(cancelAccepted, installAllowed);
      EXPECT_EQ(state.phase(), cancelAccepted ? Phase::CancelRequested : Phase::Installing);
    }
  }
}

TEST(RunStateTest, ResetStartsANewRun) {
  RunState state;
  ASSERT_TRUE(state.beginInstalling());
  state.reset();
  EXPECT_EQ(state.phase(), Phase::Running);
  EXPECT_TRUE(state.requestCancel());
}

}  // namespace
