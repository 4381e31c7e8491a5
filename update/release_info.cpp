#include "update/release_info.h"

#include "common/not_available.h"

void validateReleaseInfo(const ReleaseInfo&) { notAvailable("validateReleaseInfo"); }

std::string stringField(const nlohmann::json& value, const char* key, const std::string& fallback) {
  if (!value.is_object()) return fallback;
  const auto member = value.find(key);
  if (member == value.end() || !member->is_string()) return fallback;
  return member->get<std::string>();
}
