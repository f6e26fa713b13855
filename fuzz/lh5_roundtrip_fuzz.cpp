// Compression followed by expansion must give back any input.
#include <cstdint>

#include "codec/compress.h"
#include "codec/engine.h"
#include "core/memory_stream.h"

namespace {
constexpr int32_t kNoCompressLimit = -(1 << 24);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vo::RegisterCompressors();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> plain(data, data + size);
  vo::TCodecSettings settings;
  settings.CompressReserve = kNoCompressLimit;
  vo::TMemoryStream input(plain);
  vo::TMemoryStream stream;
  uint32_t plainSum = 0;
  const int32_t packed = vo::RunCodec(settings, stream, input, static_cast<int32_t>(size), 0,
                                      vo::kMethodLh5, plainSum, vo::TCodecMode::Compress, false);
  if (static_cast<size_t>(packed) != stream.Data.size()) __builtin_trap();
  stream.Seek(0, vo::TSeekOrigin::Begin);
  vo::TMemoryStream output;
  uint32_t expandedSum = 0;
  vo::RunCodec(settings, output, stream, packed, static_cast<int32_t>(size), vo::kMethodLh5,
               expandedSum, vo::TCodecMode::Expand, false);
  if (output.Data != plain || expandedSum != plainSum) __builtin_trap();
  return 0;
}
