#pragma once

#include <string>

#include <nlohmann/json.hpp>

// The release manifest as parsed: the JSON value itself.
using ReleaseInfo = nlohmann::json;

// The manifest body as the update check reads it: exactly one JSON text, no comments; fails with
// the JSON library's parse error.
ReleaseInfo parseReleaseInfo(const std::string& body);

// Returns normally when every manifest rule holds; otherwise fails at the first broken rule.
void validateReleaseInfo(const ReleaseInfo& manifest);

// The string member `key` of an object, or `fallback` when there is no such string member.
std::string stringField(const nlohmann::json& value, const char* key, const std::string& fallback);
