// A compression on several threads must write the bytes of one thread. The first byte picks the
// method and the thread count; the rest is the input, repeated with each copy's bytes turned by
// its number until it is long enough to cross several of the pipe's chunks.
#include <cstdint>
#include <vector>

#include "codec/compress.h"
#include "codec/engine.h"
#include "codec/item_pipe.h"
#include "core/memory_stream.h"

namespace {

constexpr int32_t kNoCompressLimit = -(1 << 24);
// Literal by literal, an input this long fills three chunks.
constexpr size_t kStretchedSize = 3 * vo::TItemPipe::kChunkItems;
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
  for (uint8_t copy = 1; stretch && plain.size() < kStretchedSize; ++copy) {
    for (size_t i = 1; i < size; ++i) plain.push_back(static_cast<uint8_t>(data[i] + copy));
  }
  if (Compress(plain, method, threads) != Compress(plain, method, 1)) __builtin_trap();
  return 0;
}
