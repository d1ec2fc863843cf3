// Times ComputeChecksum over one file: crc_bench PATH whole|eol [RUNS]. Prints the CRC and the best run's
// throughput in MB/s (10^6 bytes per second).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "checksum/checksum.h"
#include "checksum/crc32.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: crc_bench PATH whole|eol [RUNS]\n");
    return 2;
  }
  const std::string path = argv[1];
  const bool eolBlind = std::string(argv[2]) == "eol";
  const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
  const double bytes = static_cast<double>(std::filesystem::file_size(path));
  double best = 1e30;
  std::uint32_t crc = 0;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    if (zelvane::ComputeChecksum(path, eolBlind, crc) != 0) {
      std::fprintf(stderr, "cannot read %s\n", path.c_str());
      return 1;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  std::printf("%08x %.0f %s\n", static_cast<unsigned>(crc), bytes / best / 1e6,
              zelvane::crc32::HasClmul() ? "clmul" : "portable");
  return 0;
}
