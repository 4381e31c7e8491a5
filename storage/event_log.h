#pragma once

#include <windows.h>
#include <shlobj.h>

#include <string>

#include <nlohmann/json.hpp>

// The per-user JSON-lines event log. Appending never fails toward the caller.
class EventLog {
 public:
  static void append(const std::string& event, nlohmann::json fields) noexcept;
};

// The path of a known folder; fails with UserError "User directory unavailable".
std::wstring knownFolderPath(REFKNOWNFOLDERID id);
