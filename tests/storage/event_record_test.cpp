// Building one event-log line from an event name and fields. Platform-free: also built natively.
#include "storage/event_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

using nlohmann::json;

TEST(EventRecordLine, SortedKeysOverTheCallersFieldsUtf8TextAndOneLineFeed) {
  struct Case {
    const char* event;
    json fields;
    std::int64_t utcMs;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"downloader_gui_open_requested", json::object(), 1765432100123,
       "{\"event\":\"downloader_gui_open_requested\",\"utcMs\":1765432100123}\n"},
      {"downloader_failed",
       {{"message", "x"}, {"exitCode", 1}},
       0,
       "{\"event\":\"downloader_failed\",\"exitCode\":1,\"message\":\"x\",\"utcMs\":0}\n"},
      {"downloader_started",
       {{"event", "forged"}, {"utcMs", 5}, {"zeta", true}},
       7,
       "{\"event\":\"downloader_started\",\"utcMs\":7,\"zeta\":true}\n"},
      {"downloader_failed",
       {{"message", "ダウンロードを中止しました。"}},
       7,
       "{\"event\":\"downloader_failed\",\"message\":\"ダウンロードを中止しました。\",\"utcMs\":7}"
       "\n"},
      // Control characters are escaped, so a record stays on its line.
      {"downloader_failed",
       {{"message", "a\nb\r\"\\\x01\x7f"}},
       7,
       "{\"event\":\"downloader_failed\",\"message\":\"a\\nb\\r\\\"\\\\\\u0001\x7f\",\"utcMs\":7}"
       "\n"},
      {"e",
       {{"n", std::numeric_limits<std::uint64_t>::max()}, {"list", {1, "two", nullptr}}},
       std::numeric_limits<std::int64_t>::min(),
       "{\"event\":\"e\",\"list\":[1,\"two\",null],\"n\":18446744073709551615,"
       "\"utcMs\":-9223372036854775808}\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(eventRecordLine(c.event, c.fields, c.utcMs), c.expected);
  }
}

TEST(EventRecordLine, InvalidUtf8AnywhereFailsWithTheJsonTypeError) {
  struct Case {
    const char* name;
    const char* event;
    json fields;
  };
  const std::vector<Case> cases = {
      {"value", "downloader_failed", {{"message", "bad \xff byte"}}},
      {"key", "downloader_failed", {{"bad\xc3", 1}}},
      {"nested", "downloader_failed", {{"list", {"ok", "\xed\xa0\x80"}}}},
      {"overlong", "downloader_failed", {{"message", "\xc0\xaf"}}},
      {"event name", "downloader_\xe3\x81", json::object()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      const std::string line = eventRecordLine(c.event, c.fields, 1);
      ADD_FAILURE() << "no failure: " << line;
    } catch (const json::type_error& error) {
      EXPECT_EQ(error.id, 316) << error.what();
    }
  }
}

}  // namespace
