#include "storage/event_log.h"

#include "common/not_available.h"

// Not built yet: records are dropped (appending must never fail toward the run).
void EventLog::append(const std::string&, nlohmann::json) noexcept {}

std::wstring knownFolderPath(REFKNOWNFOLDERID) { notAvailable("knownFolderPath"); }
