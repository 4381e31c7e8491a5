#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/unique_resource.h"

struct BcryptAlgorithmTraits {
  using Type = BCRYPT_ALG_HANDLE;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type h) noexcept { return h != nullptr; }
  static void close(Type h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};

struct BcryptHashTraits {
  using Type = BCRYPT_HASH_HANDLE;
  static Type none() noexcept { return nullptr; }
  static bool valid(Type h) noexcept { return h != nullptr; }
  static void close(Type h) noexcept { BCryptDestroyHash(h); }
};

// A running SHA-256 computation on CNG. Failures are UserError.
class Sha256Hash {
 public:
  Sha256Hash();

  void hashData(const void* data, std::size_t size);
  std::array<std::uint8_t, 32> finish();

 private:
  // Declared in this order so that the hash object is destroyed before its provider is closed.
  UniqueResource<BcryptAlgorithmTraits> provider_;
  UniqueResource<BcryptHashTraits> hash_;
};

// SHA-256 of a file's whole content as 64 lower-case hexadecimal digits.
std::string sha256File(const std::wstring& path);
