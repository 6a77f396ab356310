// Writes the benchmark's binary INI file: krun_bench_input PATH [MEGABYTES].
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "BenchInput.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: krun_bench_input PATH [MEGABYTES]\n");
    return 1;
  }
  const std::size_t megabytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 50;
  try {
    const std::string bytes = krun::EncodeBinaryIni(krun::bench::MakeBenchIni(megabytes << 20));
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0) {
      std::fprintf(stderr, "cannot write %s\n", argv[1]);
      return 1;
    }
    std::printf("%s: %zu bytes\n", argv[1], bytes.size());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
