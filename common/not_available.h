#pragma once

#include <string>

#include "common/user_error.h"

// Placeholder for an operation that this build does not have yet.
[[noreturn]] inline void notAvailable(const char* operation) {
  throw UserError(std::string(operation) + " is not available in this build");
}
