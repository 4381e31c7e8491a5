#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

// The program's own failure: a UTF-8 text meant for the user and the event log.
class UserError : public std::runtime_error {
 public:
  explicit UserError(const std::string& text) : std::runtime_error(text) {}
};

// Throws UserError("<message> (<last-error code>)"). Reads the thread's last-error value first.
[[noreturn]] void throwWithLastError(std::string_view message);

// The one check of the program: returns when the condition holds, otherwise throws the message
// followed by " (", the thread's last-error code and ")".
inline void ensure(bool condition, std::string_view message) {
  if (!condition) throwWithLastError(message);
}
