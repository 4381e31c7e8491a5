#include "common/dll_search.h"

#include <string>

#include "common/text.h"
#include "common/user_error.h"
#include "late_bound_dlls.h"

void loadSystemLibraries() {
  // Set again here, where a failure can be reported: at the entry nothing can be logged yet.
  ensure(SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32),
         "DLLの読み込み先をシステムフォルダーに限定できませんでした。");
  for (const wchar_t* name : kLateBoundDlls) {
    // Never freed: the delay-loaded imports then bind to this module.
    const HMODULE module = LoadLibraryExW(name, /* hFile */ nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    ensure(module != nullptr, "システムファイル " + toUtf8(name) + " を読み込めませんでした。");
  }
}
