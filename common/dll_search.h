#pragma once

// Where the process finds DLLs. A DLL left beside the program or in its current directory must
// never be loaded: Windows looks there first for every DLL that is not a KnownDLL.
#include <windows.h>

// The first act of each program, from a constructor that runs before those of the libraries
// linked in (`[[gnu::constructor(101)]]` beside the entry point): from here on every DLL that
// the process loads by name (its late-bound imports, and what system DLLs load later) comes from
// the system folder only, not from the program's folder, the current directory or PATH. It
// cannot fail on Windows 10 and later; were it to, loadSystemLibraries reports it.
inline void restrictDllSearchToSystem() noexcept {
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Loads each late-bound system DLL (kLateBoundDlls, delay-loaded) from the system folder and
// keeps it for the life of the process, so that a missing one fails here, with its name, rather
// than as an exception raised by the first call into it. Call it where a failure is reported.
void loadSystemLibraries();
