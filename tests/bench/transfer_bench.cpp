// Downloads one URL into a file, alternately with fetchUrl and with a bare WinHTTP read loop of
// the same block size, and reports both throughputs and the median ratio of their times.
// usage: transfer_bench URL FOLDER [ROUNDS]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/bench/bare_download.h"
#include "update/transfer.h"

namespace {

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void print(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

template <typename Download>
double secondsOf(Download&& download, std::uint64_t& bytes) {
  const auto start = std::chrono::steady_clock::now();
  bytes = download();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: transfer_bench URL FOLDER [ROUNDS]\n");
    return 2;
  }
  const std::wstring url = argv[1];
  const std::filesystem::path folder = argv[2];
  const int rounds = argc > 3 ? std::stoi(argv[3]) : 3;
  const std::wstring target = (folder / L"bench-body.bin").wstring();
  try {
    std::vector<double> fetchRates, bareRates, ratios;
    for (int round = 1; round <= rounds; ++round) {
      std::uint64_t fetched = 0, bare = 0;
      const auto withFetchUrl = [&] {
        std::filesystem::remove(target);
        const TransferResult result = fetchUrl(url, target, 268435456, [] { return false; });
        if (result.statusCode != 200) {
          throw std::runtime_error("status " + std::to_string(result.statusCode));
        }
        return static_cast<std::uint64_t>(std::filesystem::file_size(target));
      };
      const auto withBareLoop = [&] {
        std::filesystem::remove(target);
        return bareDownload(url, target);
      };
      // Alternate which goes first, so that neither always meets a warm or a cold machine.
      double fetch = 0, plain = 0;
      if (round % 2) {
        fetch = secondsOf(withFetchUrl, fetched);
        plain = secondsOf(withBareLoop, bare);
      } else {
        plain = secondsOf(withBareLoop, bare);
        fetch = secondsOf(withFetchUrl, fetched);
      }
      if (fetched != bare) throw std::runtime_error("the two downloads differ in size");
      const double mib = static_cast<double>(fetched) / (1024.0 * 1024.0);
      print("round " + std::to_string(round) + ": fetchUrl " + fixed(mib / fetch, 1) +
            " MiB/s, bare " + fixed(mib / plain, 1) + " MiB/s (" + fixed(mib, 0) + " MiB)");
      fetchRates.push_back(mib / fetch);
      bareRates.push_back(mib / plain);
      ratios.push_back(fetch / plain);
    }
    std::filesystem::remove(target);
    print("transfer: fetchUrl median " + fixed(median(fetchRates), 1) + " MiB/s, bare median " +
          fixed(median(bareRates), 1) + " MiB/s");
    print("transfer: fetchUrl/bare ratio " + fixed(median(ratios), 2));
    return 0;
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "transfer_bench: %s\n", failure.what());
    return 1;
  }
}
