// Throughput of each direction of each method through RunCodec, in bytes of plain data per
// second, on memory streams. The corpus is the file named by VO_BENCH_FILE, else the 32-bit
// shell32.dll of the Wine package, else generated data; VO_BENCH_LIMIT caps the bytes used.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/compress.h"
#include "codec/engine.h"
#include "core/memory_stream.h"

namespace vo {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr const char* kDefaultCorpus = "/usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll";
constexpr std::size_t kDefaultLimit = 4u << 20;  // keeps one iteration of a compressor short
constexpr std::size_t kGeneratedSize = 2u << 20;

// Stand-in when no file is found: repeats at varying distances, with some noise.
Bytes GeneratedCorpus() {
  Bytes out;
  uint32_t x = 12345;
  while (out.size() < kGeneratedSize) {
    x = x * 1103515245u + 12345u;
    const unsigned length = 4 + (x >> 24) % 40;
    const std::size_t back = 1 + (x >> 8) % 6000;
    for (unsigned i = 0; i < length; ++i) {
      out.push_back(out.size() > back && (x & 3) != 0 ? out[out.size() - back]
                                                      : static_cast<uint8_t>(x >> (i % 24)));
    }
  }
  return out;
}

const Bytes& Corpus() {
  static const Bytes corpus = [] {
    const char* name = std::getenv("VO_BENCH_FILE");
    std::ifstream file(name != nullptr ? name : kDefaultCorpus, std::ios::binary);
    Bytes data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (data.empty()) data = GeneratedCorpus();
    const char* limit = std::getenv("VO_BENCH_LIMIT");
    const std::size_t cap = limit != nullptr ? std::strtoull(limit, nullptr, 10) : kDefaultLimit;
    if (cap != 0 && data.size() > cap) data.resize(cap);
    return data;
  }();
  return corpus;
}

Bytes Compress(const Bytes& plain, uint8_t method, unsigned threads = 1) {
  TMemoryStream source(plain);
  TMemoryStream sink;
  TCodecSettings settings;
  settings.Threads = threads;
  settings.CompressReserve = -static_cast<int32_t>(plain.size());  // never refused
  uint32_t checksum = 0;
  RunCodec(settings, sink, source, static_cast<int32_t>(plain.size()), 0, method, checksum,
           TCodecMode::Compress, false);
  return std::move(sink.Data);
}

// The argument is the thread count; the bytes must not depend on it.
void BM_Compress(benchmark::State& state, uint8_t method) {
  const Bytes& plain = Corpus();
  const auto threads = static_cast<unsigned>(state.range(0));
  if (threads != 1 && Compress(plain, method, threads) != Compress(plain, method)) {
    state.SkipWithError("the bytes depend on the thread count");
  }
  for (auto _ : state) benchmark::DoNotOptimize(Compress(plain, method, threads));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
}

void BM_Expand(benchmark::State& state, uint8_t method) {
  const Bytes& plain = Corpus();
  const Bytes packed = Compress(plain, method);
  for (auto _ : state) {
    TMemoryStream source(packed);
    TMemoryStream sink;
    uint32_t checksum = 0;
    RunCodec(TCodecSettings{}, sink, source, static_cast<int32_t>(packed.size()),
             static_cast<int32_t>(plain.size()), method, checksum, TCodecMode::Expand, false);
    if (sink.Data != plain) state.SkipWithError("expansion differs from the input");
    benchmark::DoNotOptimize(checksum);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
}

BENCHMARK_CAPTURE(BM_Expand, lh5, kMethodLh5)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Expand, lzh, kMethodLzh)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compress, lh5, kMethodLh5)
    ->ArgName("j")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Compress, lzh, kMethodLzh)
    ->ArgName("j")
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace vo

int main(int argc, char** argv) {
  vo::RegisterCompressors();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
