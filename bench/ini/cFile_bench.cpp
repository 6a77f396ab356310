// Speed of the line reader: splitting and cleaning a 50 MB text INI file
// through cFile, next to a plain read() of the same file in the same run, so
// that the two figures compare on one machine and one page cache.
//
//   cFile_bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "ini/cFile.h"

namespace {

constexpr size_t kFileSize = 50u * 1000 * 1000;

// The lines of a typical data file: sections, entries with several values,
// tabs, comments, blank lines. None needs a repair, so nothing is logged.
const char* const kLines[] = {
    "[Ship]",
    "nickname = li_elite",
    "\tids_name = 237033 ; shown in the shop",
    "hit_pts = 3200",
    "mass = 150.000000",
    "LODranges = 0, 75, 150, 1300",
    "separable = true",
    "  explosion_resistance = 1.000000, 0.500000  ",
    "; tuned for the second patch",
    "",
    "fuse = intermed_damage_smallship01, 0.000000, 400",
    "surface_hit_effects = 0, small_impact01, small_impact02\t;\tdebris",
};

class DataFile {
 public:
  DataFile() {
    path_ = (std::filesystem::temp_directory_path() / ("ketch-bench-" + std::to_string(getpid()) + ".ini")).string();
    std::string text;
    text.reserve(kFileSize + 128);
    for (size_t i = 0; text.size() < kFileSize; ++i) {
      text += kLines[i % std::size(kLines)];
      text += "\r\n";
    }
    std::ofstream(path_, std::ios::binary) << text;
    size_ = text.size();
  }
  ~DataFile() { std::filesystem::remove(path_); }
  const std::string& Path() const { return path_; }
  size_t Size() const { return size_; }

 private:
  std::string path_;
  size_t size_ = 0;
};

const DataFile& Data() {
  static DataFile file;
  return file;
}

void PlainRead(benchmark::State& state) {
  Data();  // made before timing starts
  std::unique_ptr<char[]> block(new char[ketch::LineSplitter::kBlockSize]);
  for (auto _ : state) {
    const int fd = open(Data().Path().c_str(), O_RDONLY | O_CLOEXEC);
    size_t total = 0;
    for (ssize_t got; (got = read(fd, block.get(), ketch::LineSplitter::kBlockSize)) > 0;)
      total += static_cast<size_t>(got);
    close(fd);
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Data().Size()));
}

void ReadLines(benchmark::State& state) {
  Data();
  std::string line;
  for (auto _ : state) {
    ketch::cFile file;
    file.FileName(Data().Path());
    size_t total = 0;
    while (!file.EndOfFile()) {
      file.ReadLine(line);
      total += line.size();
    }
    benchmark::DoNotOptimize(total);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Data().Size()));
}

}  // namespace

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ReadLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
