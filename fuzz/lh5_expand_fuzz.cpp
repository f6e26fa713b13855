// Arbitrary bytes expanded as LH5 to a count taken from the input. Damaged streams may raise
// ELZHBadDecodeTable, or EReadError when they end too early; anything else, a touch outside a
// table, or output past the count is a finding.
#include <cstdint>
#include <cstring>

#include "codec/engine.h"
#include "core/exception.h"
#include "core/memory_stream.h"

namespace {
constexpr uint32_t kCountLimit = 1 << 18;  // keeps each input fast
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t count = 0;
  if (size >= 4) {
    std::memcpy(&count, data, 4);
    data += 4;
    size -= 4;
  }
  vo::TMemoryStream source(std::vector<uint8_t>(data, data + size));
  vo::TMemoryStream sink;
  uint32_t checksum = 0;
  bool whole = true;
  try {
    vo::RunCodec(vo::TCodecSettings{}, sink, source, static_cast<int32_t>(size),
                 static_cast<int32_t>(count % kCountLimit), vo::kMethodLh5, checksum,
                 vo::TCodecMode::Expand, false);
  } catch (const vo::ELZHBadDecodeTable&) {
    whole = false;
  } catch (const vo::EReadError&) {
    whole = false;
  }
  // A whole run produces exactly count bytes, a failed one fewer.
  const std::size_t produced = sink.Data.size();
  if (produced > count % kCountLimit || (whole && produced != count % kCountLimit)) {
    __builtin_trap();
  }
  return 0;
}
