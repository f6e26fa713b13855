// Arbitrary bytes expanded as LZH, with a count taken from the input: damaged streams must
// stay in bounds, produce at least the count and at most one match beyond it.
#include <cstdint>

#include "codec/engine.h"
#include "core/little_endian.h"
#include "core/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t count = vo::LoadLittleEndian<uint16_t>(data);  // up to 65535 bytes
  vo::TMemoryStream source(std::vector<uint8_t>(data + 2, data + size));
  vo::TMemoryStream sink;
  uint32_t checksum = 0;
  vo::RunCodec(vo::TCodecSettings{}, sink, source, static_cast<int32_t>(size - 2), count,
               vo::kMethodLzh, checksum, vo::TCodecMode::Expand, false);
  const std::size_t produced = sink.Data.size();
  constexpr std::size_t kLongestMatch = 60;
  if (produced < static_cast<std::size_t>(count) ||
      produced > static_cast<std::size_t>(count) + kLongestMatch - 1)
    __builtin_trap();
  uint32_t sum = 0;
  for (uint8_t b : sink.Data) sum += b;
  if (sum != checksum) __builtin_trap();
  return 0;
}
