#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

// One line of the event log: the caller's fields with "event" and "utcMs" set over them,
// serialised compactly with the keys in ascending order and non-ASCII text as UTF-8, followed by
// one line feed. A string that is not valid UTF-8 fails (nlohmann::json::type_error).
std::string eventRecordLine(const std::string& event, nlohmann::json fields, std::int64_t utcMs);

// Milliseconds since 1970-01-01 00:00:00 UTC, truncated.
std::int64_t currentUtcMs();
