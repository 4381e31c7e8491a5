// Building event-log records. Kept free of platform headers.
#include "storage/event_record.h"

#include <chrono>

std::string eventRecordLine(const std::string& event, nlohmann::json fields, std::int64_t utcMs) {
  // Set after the caller's fields, so that a caller's field of either name is replaced.
  fields["event"] = event;
  fields["utcMs"] = utcMs;
  std::string line = fields.dump(/* indent */ -1, /* indent_char */ ' ', /* ensure_ascii */ false,
                                 nlohmann::json::error_handler_t::strict);
  line += '\n';
  return line;
}

std::int64_t currentUtcMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
