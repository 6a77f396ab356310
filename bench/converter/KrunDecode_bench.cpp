// Decoder throughput in memory, without the file system: bytes of binary INI
// per second into a sink that drops the text.
#include <benchmark/benchmark.h>

#include "BenchInput.h"
#include "KrunDecoder.h"

namespace {

class DropSink final : public krun::TextSink {
  void Emit(const char* text, std::size_t size) override {
    benchmark::DoNotOptimize(text);
    benchmark::DoNotOptimize(size);
  }
};

void BM_Decode(benchmark::State& state) {
  const std::string file = krun::EncodeBinaryIni(krun::bench::MakeBenchIni(4 << 20));
  const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(file.data()),
                                             file.size());
  for (auto _ : state) {
    DropSink sink;
    benchmark::DoNotOptimize(krun::Decode(bytes, &sink));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);

void BM_CheckOnly(benchmark::State& state) {
  const std::string file = krun::EncodeBinaryIni(krun::bench::MakeBenchIni(4 << 20));
  const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(file.data()),
                                             file.size());
  for (auto _ : state) benchmark::DoNotOptimize(krun::Decode(bytes, nullptr));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_CheckOnly)->Unit(benchmark::kMillisecond);

}  // namespace
