// Arbitrary bytes expanded as LZH, with a count taken from the input: damaged streams must
// stay in bounds, and either produce exactly the count or fail for want of input, never
// writing more than the count.
#include <cstdint>

#include "codec/engine.h"
#include "core/exception.h"
#include "core/little_endian.h"
#include "core/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int32_t count = vo::LoadLittleEndian<uint16_t>(data);  // up to 65535 bytes
  vo::TMemoryStream source(std::vector<uint8_t>(data + 2, data + size));
  vo::TMemoryStream sink;
  uint32_t checksum = 0;
  try {
    vo::RunCodec(vo::TCodecSettings{}, sink, source, static_cast<int32_t>(size - 2), count,
                 vo::kMethodLzh, checksum, vo::TCodecMode::Expand, false);
  } catch (const vo::EReadError&) {
    if (sink.Data.size() > static_cast<std::size_t>(count)) __builtin_trap();
    return 0;
  }
  if (sink.Data.size() != static_cast<std::size_t>(count)) __builtin_trap();
  uint32_t sum = 0;
  for (uint8_t b : sink.Data) sum += b;
  if (sum != checksum) __builtin_trap();
  return 0;
}
