#pragma once

#include <objbase.h>

#include "common/unique_resource.h"

// Memory that the platform allocated with CoTaskMemAlloc (known-folder paths).
template <typename T>
struct CoTaskMemoryTraits {
  using Type = T;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type p) noexcept { return p != nullptr; }
  static void close(Type p) noexcept { CoTaskMemFree(p); }
};
template <typename T>
using UniqueCoTaskMemory = UniqueResource<CoTaskMemoryTraits<T>>;
