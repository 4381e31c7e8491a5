#pragma once

#include <string>
#include <vector>

enum class RunMode {
  Silent,  // default, /silent, /verysilent: no window, no message box
  Window,  // /showui: the progress window
};

// Applies the switches in order (case-insensitive for A to Z; the last one decides). At the first
// argument that is not a switch it throws UserError "指定された起動引数は使用できません。" and
// leaves `mode` as far as the arguments before it had set it.
void parseRunMode(const std::vector<std::wstring>& arguments, RunMode& mode);
