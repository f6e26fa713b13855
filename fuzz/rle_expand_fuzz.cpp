// Arbitrary bytes expanded as RLE under a key taken from the input.
#include <cstdint>
#include <cstring>

#include "codec/engine.h"
#include "core/exception.h"
#include "core/memory_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vo::TCodecSettings settings;
  if (size >= 4) {
    std::memcpy(&settings.Key, data, 4);
    data += 4;
    size -= 4;
  }
  vo::TMemoryStream source(std::vector<uint8_t>(data, data + size));
  vo::TMemoryStream sink;
  uint32_t checksum = 0;
  try {
    vo::RunCodec(settings, sink, source, static_cast<int32_t>(size), 0, vo::kMethodRle, checksum,
                 vo::TCodecMode::Expand, true);
  } catch (const vo::EReadError&) {
    return 0;  // an escape without its count byte
  }
  uint32_t sum = 0;
  for (uint8_t b : sink.Data) sum += b;
  if (sum != checksum) __builtin_trap();
  return 0;
}
