#include "common/user_error.h"

#include <cstdint>

#include "common/last_error.h"

void throwWithLastError(std::string_view message) {
  // Nothing may run before this read: any platform call could change the value.
  const std::uint32_t code = threadLastError();
  std::string text(message);
  text += " (";
  text += std::to_string(code);
  text += ')';
  throw UserError(text);
}
