#include "app/run_mode.h"

#include "common/user_error.h"

namespace {

std::wstring lowerAsciiLetters(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  return text;
}

}  // namespace

void parseRunMode(const std::vector<std::wstring>& arguments, RunMode& mode) {
  for (const std::wstring& argument : arguments) {
    const std::wstring lowered = lowerAsciiLetters(argument);
    if (lowered == L"/silent" || lowered == L"/verysilent") {
      mode = RunMode::Silent;
    } else if (lowered == L"/showui") {
      mode = RunMode::Window;
    } else {
      // Thrown directly: this text carries no error code.
      throw UserError("指定された起動引数は使用できません。");
    }
  }
}
