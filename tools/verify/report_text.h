#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "tools/verify/release_judgement.h"

// UTF-8 for a report: a text that is not valid UTF-16 (a version resource may hold anything) is
// shown with U+FFFD in place of what cannot be converted, instead of failing.
std::string toUtf8Lenient(std::wstring_view text);

// A JSON value as compact text; invalid UTF-8 in a string is shown as U+FFFD.
std::string jsonText(const nlohmann::json& value);

struct BuildIdentity {
  std::string updateServer;
  std::string pinnedThumbprint;
};

// The report as lines of text, one per check, and as one JSON object.
std::string reportText(const std::string& releaseDir, const BuildIdentity& build,
                       const ReleaseJudgement& judgement);
nlohmann::json reportJson(const std::string& releaseDir, const BuildIdentity& build,
                          const ReleaseJudgement& judgement);
