#include "common/user_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

#include <cstdint>

void throwWithLastError(std::string_view message) {
  // Nothing may run before this read: any platform call could change the value.
#ifdef _WIN32
  const std::uint32_t code = GetLastError();
#else
  const std::uint32_t code = static_cast<std::uint32_t>(errno);
#endif
  std::string text(message);
  text += " (";
  text += std::to_string(code);
  text += ')';
  throw UserError(text);
}
