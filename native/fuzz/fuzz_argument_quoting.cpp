// The quoting of one argument, for any text of UTF-16LE units without a NUL (a command line ends at
// its first NUL): after a program name, the quoted text must split back into exactly that text by
// the documented rules of the Windows command-line parser (tests/support/command_line_split.h).
#include <cstdint>
#include <string>
#include <vector>

#include "install/argument_quoting.h"
#include "native/fuzz/fuzz_support.h"
#include "tests/support/command_line_split.h"

using fuzzsupport::check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::wstring text = fuzzsupport::utf16Units(data, size);
  if (text.find(L'\0') != std::wstring::npos) return 0;
  const std::wstring quoted = quoteArgument(text);
  check(quoted.size() >= 2 && quoted.front() == L'"' && quoted.back() == L'"', "not enclosed",
        fuzzsupport::hexUnits(quoted));
  // At most every character escaped, plus the two marks.
  check(quoted.size() <= 2 * text.size() + 2, "longer than needed", fuzzsupport::hexUnits(quoted));
  const std::vector<std::wstring> arguments =
      testsupport::splitCommandLine(L"program.exe " + quoted);
  check(arguments.size() == 2 && arguments[0] == L"program.exe" && arguments[1] == text,
        "does not split back", fuzzsupport::hexUnits(text) + "-> " + fuzzsupport::hexUnits(quoted));
  return 0;
}
