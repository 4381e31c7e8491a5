// The unavoidable parts of one update run with a given installer, measured alone in one process:
// the download (bare WinHTTP loop), the two SHA-256 passes and the two signature checks that the
// run makes (one verification after the download, one before the start).
// usage: parts_bench URL FILE      prints each part and, last, "parts: sum S s"
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "common/sha256.h"
#include "install/publisher_signature.h"
#include "tests/bench/bare_download.h"

namespace {

template <typename Part>
double seconds(Part&& part) {
  const auto start = std::chrono::steady_clock::now();
  part();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: parts_bench URL FILE\n");
    return 2;
  }
  const std::wstring url = argv[1];
  const std::wstring file = argv[2];
  try {
    double sum = 0;
    const double download = seconds([&] { bareDownload(url, file); });
    std::printf("parts: download %.3f s (%llu bytes)\n", download,
                static_cast<unsigned long long>(std::filesystem::file_size(file)));
    sum += download;
    for (int pass = 1; pass <= 2; ++pass) {
      const double digest = seconds([&] { sha256File(file); });
      std::printf("parts: sha256 pass %d %.3f s\n", pass, digest);
      sum += digest;
    }
    for (int pass = 1; pass <= 2; ++pass) {
      bool trusted = false;
      const double signature = seconds([&] { trusted = verifyPublisherSignature(file); });
      if (!trusted) throw std::runtime_error("the installer's signature does not verify");
      std::printf("parts: signature check %d %.3f s\n", pass, signature);
      sum += signature;
    }
    std::filesystem::remove(file);
    std::printf("parts: sum %.3f s\n", sum);
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "parts_bench: %s\n", failure.what());
    return 1;
  }
}
