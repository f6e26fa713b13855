// A compression on several threads must write the bytes of one thread. The first byte picks the
// method and the thread count; the rest is the input, repeated with each copy's bytes turned by
// its number until it is long enough to cross several of the pipe's chunks, and for LH5 several
// rounds of small segments, which it is compressed in too.
#include <cstdint>
#include <vector>

#include "codec/compress.h"
#include "codec/engine.h"
#include "codec/item_pipe.h"
#include "codec/lh5_segments.h"
#include "core/memory_stream.h"

namespace {

constexpr int32_t kNoCompressLimit = -(1 << 24);
// Literal by literal, an input this long fills three chunks; LH5's segments of three windows
// need a few rounds' worth.
constexpr size_t kStretchedSize = 3 * vo::TItemPipe::kChunkItems;
constexpr size_t kStretchedSegments = 16 * 8192;
constexpr unsigned kMaxThreads = 4;

std::vector<uint8_t> Compress(const std::vector<uint8_t>& plain, uint8_t method, unsigned threads) {
  vo::TCodecSettings settings;
  settings.CompressReserve = kNoCompressLimit;
  settings.Threads = threads;
  vo::TMemoryStream input(plain);
  vo::TMemoryStream output;
  uint32_t sum = 0;
  vo::RunCodec(settings, output, input, static_cast<int32_t>(plain.size()), 0, method, sum,
               vo::TCodecMode::Compress, false);
  return output.Data;
}

// LH5 in segments of three windows, each compared with the finder before at a delay the input
// picks: at once, the finders mostly disagree; later, they mostly agree.
std::vector<uint8_t> CompressInSegments(const std::vector<uint8_t>& plain, unsigned threads,
                                        int delay) {
  vo::TCodecSettings settings;
  settings.CompressReserve = kNoCompressLimit;
  settings.Threads = threads;
  vo::TMemoryStream input(plain);
  vo::TMemoryStream output;
  vo::TCodecRun run(settings, output, input, static_cast<int32_t>(plain.size()),
                    vo::TCodecMode::Compress, false);
  vo::lh5::TLh5SegmentPlan plan;
  plan.SegmentWindows = 3;
  plan.WarmWindows = 1;
  plan.CheckDelay = delay;
  vo::lh5::CompressLh5(run, plan);
  run.FlushSink();
  return output.Data;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vo::RegisterCompressors();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t method = (data[0] & 1) != 0 ? vo::kMethodLh5 : vo::kMethodLzh;
  const unsigned threads = 2 + (data[0] >> 1) % (kMaxThreads - 1);
  const bool stretch = (data[0] & 0x80) != 0;
  std::vector<uint8_t> plain(data + 1, data + size);
  const size_t stretched = method == vo::kMethodLh5 ? kStretchedSegments : kStretchedSize;
  for (uint8_t copy = 1; stretch && plain.size() < stretched; ++copy) {
    for (size_t i = 1; i < size; ++i) plain.push_back(static_cast<uint8_t>(data[i] + copy));
  }
  const std::vector<uint8_t> one = Compress(plain, method, 1);
  if (Compress(plain, method, threads) != one) __builtin_trap();
  if (method == vo::kMethodLh5 && stretch) {
    const int delay = (data[0] >> 4 & 7) * 4096;
    if (CompressInSegments(plain, threads, delay) != one) __builtin_trap();
  }
  return 0;
}
