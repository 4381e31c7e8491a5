// Second process of the concurrency test: waits for the named start event, then appends `count`
// records {"writer": tag, "n": 0..count-1}.
// usage: event_log_writer.exe TAG COUNT START_EVENT
#include <windows.h>

#include <string>

#include "common/text.h"
#include "storage/event_log.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  const std::string tag = toUtf8(argv[1]);
  const int count = std::stoi(argv[2]);
  const HANDLE start = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
  if (start == nullptr || WaitForSingleObject(start, 60000) != WAIT_OBJECT_0) return 3;
  CloseHandle(start);
  for (int n = 0; n < count; ++n) EventLog::append("test_concurrent", {{"writer", tag}, {"n", n}});
  return 0;
}
