#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <string>

#include "common/user_error.h"

namespace testsupport {

// Runs `action` and returns the message of the UserError it throws, with its " (<code>)" ending
// checked and cut off. Fails the test (and returns "") when the action throws anything else,
// throws nothing, or the ending is not a blank, "(", an unsigned decimal code and ")".
template <typename Action>
std::string userErrorMessage(Action&& action) {
  try {
    action();
  } catch (const UserError& error) {
    const std::string text = error.what();
    const auto open = text.rfind(" (");
    const bool endsWithCode = open != std::string::npos && text.size() > open + 3 &&
                              text.back() == ')' &&
                              text.find_first_not_of("0123456789", open + 2) == text.size() - 1 &&
                              (text[open + 2] != '0' || text.size() == open + 4);
    if (!endsWithCode) {
      ADD_FAILURE() << "UserError text does not end with \" (<code>)\": " << text;
      return "";
    }
    return text.substr(0, open);
  } catch (const std::exception& error) {
    ADD_FAILURE() << "expected a UserError, got: " << error.what();
    return "";
  }
  ADD_FAILURE() << "expected a UserError, nothing was thrown";
  return "";
}

}  // namespace testsupport
