#pragma once

#include <windows.h>

#include <utility>

// Owns one platform resource and releases it on every path. The traits type says how to release
// it and which values mean "none":
//   struct Traits { using Type = ...; static Type none(); static bool valid(Type); static void close(Type); };
// Closing keeps the thread's last-error value, so that a failure reported by ensure() carries the
// code of the call that failed, not that of a close during unwinding.
template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  UniqueResource() noexcept = default;
  explicit UniqueResource(Type value) noexcept : value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Type get() const noexcept { return value_; }
  bool valid() const noexcept { return Traits::valid(value_); }
  explicit operator bool() const noexcept { return valid(); }

  void reset(Type value = Traits::none()) noexcept {
    if (Traits::valid(value_)) {
      const DWORD lastError = GetLastError();
      Traits::close(value_);
      SetLastError(lastError);
    }
    value_ = value;
  }

  [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::none()); }

  // For out-parameters: releases what is held and exposes the storage.
  Type* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_ = Traits::none();
};

// Kernel handles: both null and INVALID_HANDLE_VALUE mean "no handle".
struct KernelHandleTraits {
  using Type = HANDLE;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(Type h) noexcept { CloseHandle(h); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// Memory that the platform allocated with LocalAlloc (SDDL descriptors, SID strings, argv).
template <typename T>
struct LocalMemoryTraits {
  using Type = T;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type p) noexcept { return p != nullptr; }
  static void close(Type p) noexcept { LocalFree(reinterpret_cast<HLOCAL>(p)); }
};
template <typename T>
using UniqueLocalMemory = UniqueResource<LocalMemoryTraits<T>>;
