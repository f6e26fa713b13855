// Arbitrary bytes compressed as LZH and expanded again must come back unchanged, and the
// compressed bytes must be those of the plain compressor of the tests.
#include <cstdint>

#include "codec/compress.h"
#include "codec/engine.h"
#include "core/memory_stream.h"
#include "tests/support/lzh_reference.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vo::RegisterCompressors();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> plain(data, data + size);
  const auto length = static_cast<int32_t>(size);
  vo::TMemoryStream source(plain);
  vo::TMemoryStream packed;
  vo::TCodecSettings settings;
  settings.CompressReserve = -(2 * length + 1024);  // room for output longer than the input
  uint32_t plainSum = 0;
  const int32_t packedSize = vo::RunCodec(settings, packed, source, length, 0, vo::kMethodLzh,
                                          plainSum, vo::TCodecMode::Compress, false);
  if (static_cast<std::size_t>(packedSize) != packed.Data.size()) __builtin_trap();
  if (packed.Data != vo::test::ReferenceCompressLzh(plain)) __builtin_trap();
  packed.Seek(0, vo::TSeekOrigin::Begin);
  vo::TMemoryStream sink;
  uint32_t expandedSum = 0;
  vo::RunCodec(vo::TCodecSettings{}, sink, packed, packedSize, length, vo::kMethodLzh, expandedSum,
               vo::TCodecMode::Expand, false);
  if (sink.Data != plain || expandedSum != plainSum) __builtin_trap();
  return 0;
}
