#include "app/run_mode.h"

#include <gtest/gtest.h>

#include "common/user_error.h"

namespace {

constexpr char kRefused[] = "指定された起動引数は使用できません。";

struct SwitchCase {
  const char* name;
  std::vector<std::wstring> arguments;
  RunMode expected;
};

TEST(RunModeTest, AcceptsTheSwitchesInAnyCaseAndTheLastOneDecides) {
  const SwitchCase cases[] = {
      {"none", {}, RunMode::Silent},
      {"silent", {L"/silent"}, RunMode::Silent},
      {"verysilent", {L"/verysilent"}, RunMode::Silent},
      {"showui", {L"/showui"}, RunMode::Window},
      {"capitals", {L"/SILENT"}, RunMode::Silent},
      {"mixed", {L"/ShowUI"}, RunMode::Window},
      {"VerySilent", {L"/VerySilent"}, RunMode::Silent},
      {"showui then silent", {L"/showui", L"/silent"}, RunMode::Silent},
      {"silent then showui", {L"/silent", L"/showui"}, RunMode::Window},
      {"twice", {L"/showui", L"/showui"}, RunMode::Window},
  };
  for (const SwitchCase& c : cases) {
    SCOPED_TRACE(c.name);
    RunMode mode = RunMode::Silent;
    parseRunMode(c.arguments, mode);
    EXPECT_EQ(mode, c.expected);
  }
}

TEST(RunModeTest, RefusesAnythingElseWithTheBareMessage) {
  const std::wstring refused[] = {L"/foo", L"", L"-silent", L"silent", L"/silent=1", L"/silent ",
                                  L" /silent", L"/show ui",
                                  // Only A to Z fold: a dotless capital I (U+0130) is no "i".
                                  L"/show\u0130",
                                  // Full-width solidus.
                                  L"\uFF0Fsilent"};
  for (const std::wstring& argument : refused) {
    SCOPED_TRACE(testing::PrintToString(argument));
    RunMode mode = RunMode::Silent;
    try {
      parseRunMode({argument}, mode);
      ADD_FAILURE() << "accepted";
    } catch (const UserError& error) {
      EXPECT_STREQ(error.what(), kRefused);
    }
  }
}

TEST(RunModeTest, KeepsTheModeReadBeforeTheBadArgument) {
  RunMode mode = RunMode::Silent;
  EXPECT_THROW(parseRunMode({L"/showui", L"/foo", L"/silent"}, mode), UserError);
  EXPECT_EQ(mode, RunMode::Window);

  mode = RunMode::Silent;
  EXPECT_THROW(parseRunMode({L"/foo", L"/showui"}, mode), UserError);
  EXPECT_EQ(mode, RunMode::Silent);
}

}  // namespace
