#pragma once

#include <windows.h>
#include <winhttp.h>

#include "common/unique_resource.h"

// Root, connection and request handles of WinHTTP; null means "no handle".
struct WinHttpHandleTraits {
  using Type = HINTERNET;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type h) noexcept { return h != nullptr; }
  static void close(Type h) noexcept { WinHttpCloseHandle(h); }
};
using UniqueWinHttpHandle = UniqueResource<WinHttpHandleTraits>;
