#include "common/sha256.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "common/user_error.h"

namespace {
constexpr std::size_t kReadSize = 65536;
}  // namespace

Sha256Hash::Sha256Hash() {
  const NTSTATUS opened = BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_SHA256_ALGORITHM,
                                                      /* pszImplementation */ nullptr,
                                                      /* dwFlags */ 0);
  ensure(opened >= 0, "SHA256 unavailable");
  // A failure here leaves the constructor with provider_ already owning the provider: it is
  // closed on the way out.
  const NTSTATUS created = BCryptCreateHash(provider_.get(), hash_.put(),
                                            /* pbHashObject */ nullptr, /* cbHashObject */ 0,
                                            /* pbSecret */ nullptr, /* cbSecret */ 0,
                                            /* dwFlags */ 0);
  ensure(created >= 0, "SHA256 initialization failed");
}

void Sha256Hash::hashData(const void* data, std::size_t size) {
  const NTSTATUS status = BCryptHashData(hash_.get(), static_cast<PUCHAR>(const_cast<void*>(data)),
                                         static_cast<ULONG>(size), /* dwFlags */ 0);
  ensure(status >= 0, "SHA256 failed");
}

std::array<std::uint8_t, 32> Sha256Hash::finish() {
  std::array<std::uint8_t, 32> digest{};
  const NTSTATUS status = BCryptFinishHash(hash_.get(), digest.data(),
                                           static_cast<ULONG>(digest.size()), /* dwFlags */ 0);
  ensure(status >= 0, "SHA256 failed");
  return digest;
}

std::string sha256File(const std::wstring& path) {
  // The algorithm is checked before the file: an unavailable SHA-256 is reported first.
  Sha256Hash hash;
  // The C runtime's open shares the file with readers and writers alike.
  std::ifstream stream(std::filesystem::path(path), std::ios::in | std::ios::binary);
  ensure(stream.is_open(), "File could not be hashed");

  std::vector<char> buffer(kReadSize);
  while (stream) {
    stream.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
    // The final read may deliver fewer bytes than asked, or none; those bytes count too.
    hash.hashData(buffer.data(), static_cast<std::size_t>(stream.gcount()));
  }
  ensure(stream.eof(), "File hash read failed");

  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(64);
  for (const std::uint8_t byte : hash.finish()) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  return text;
}
