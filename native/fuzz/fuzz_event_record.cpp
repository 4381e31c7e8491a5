// The event record, for any event name and fields. Input: texts ended by a backslash and one other
// byte (a doubled backslash is one backslash): the event name, then pairs of a key and a value,
// whose first byte chooses its kind (s string, i signed, u unsigned, b boolean, n null, a array of
// two strings, o object of one member; anything else: the whole text as a string); the time stamp
// from the last eight bytes (FuzzedDataProvider takes integers from the end). The outcome must
// be one line of valid JSON that reads back as the fields with "event" and "utcMs" set over them,
// or, exactly when some text is not well-formed UTF-8, the library's type error 316.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "native/fuzz/fuzz_support.h"
#include "storage/event_record.h"

using fuzzsupport::check;
using fuzzsupport::fail;
using nlohmann::json;

namespace {

std::int64_t bits(const std::string& text) {
  std::uint64_t value = 0;
  std::memcpy(&value, text.data(), std::min(text.size(), sizeof(value)));
  return static_cast<std::int64_t>(value);
}

json valueFrom(const std::string& token) {
  const std::string rest = token.empty() ? "" : token.substr(1);
  const std::size_t half = rest.size() / 2;
  switch (token.empty() ? '\0' : token[0]) {
    case 's':
      return rest;
    case 'i':
      return bits(rest);
    case 'u':
      return static_cast<std::uint64_t>(bits(rest));
    case 'b':
      return !rest.empty();
    case 'n':
      return nullptr;
    case 'a':
      return json::array({rest.substr(0, half), rest.substr(half)});
    case 'o':
      return json::object({{rest.substr(0, half), rest.substr(half)}});
    default:
      return token;
  }
}

// Whether every key and string in `value` is well-formed UTF-8.
bool allWellFormed(const json& value) {
  if (value.is_string()) return fuzzsupport::isWellFormedUtf8(value.get<std::string>());
  if (value.is_object()) {
    for (auto it = value.begin(); it != value.end(); ++it) {
      if (!fuzzsupport::isWellFormedUtf8(it.key()) || !allWellFormed(*it)) return false;
    }
  }
  if (value.is_array()) {
    for (const json& element : value) {
      if (!allWellFormed(element)) return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // The time stamp from the last bytes (none left: 0), the texts from the front.
  const std::int64_t utcMs = input.ConsumeIntegral<std::int64_t>();
  const std::string event = input.ConsumeRandomLengthString();
  json fields = json::object();
  while (input.remaining_bytes() > 0) {
    const std::string key = input.ConsumeRandomLengthString();
    fields[key] = valueFrom(input.ConsumeRandomLengthString());
  }

  // What the record must hold: the texts that end up in it decide whether it can be written.
  json expected = fields;
  expected["event"] = event;
  expected["utcMs"] = utcMs;
  const bool wellFormed = allWellFormed(expected);

  std::string line;
  try {
    line = eventRecordLine(event, fields, utcMs);
  } catch (const json::type_error& error) {
    check(error.id == 316, "an unexpected type error", error.what());
    check(!wellFormed, "well-formed UTF-8 refused",
          expected.dump(-1, ' ', true, json::error_handler_t::replace));
    return 0;
  }
  check(wellFormed, "a record with text that is not UTF-8", line);
  check(!line.empty() && line.back() == '\n', "no line feed at the end", line);
  const std::string body = line.substr(0, line.size() - 1);
  check(body.find_first_of("\r\n") == std::string::npos, "more than one line", line);
  check(fuzzsupport::isWellFormedUtf8(body), "the line is not UTF-8", line);
  json readBack;
  try {
    readBack = json::parse(body);
  } catch (const json::exception& error) {
    fail("the line is not JSON", error.what());
  }
  check(readBack == expected, "the line reads back as other fields", line);
  return 0;
}
