// Writing a bit stream to a codec run's sink, the first bit in the top bit of each byte. Both
// compressors write this way.
#pragma once

#include <cstdint>

#include "codec/engine.h"

namespace vo {

// Gives the run's sink four bytes at a time; FlushBits hands over the rest.
class TBitWriter {
 public:
  explicit TBitWriter(TCodecRun& run) : Run(run) {}

  // Appends the n bits (0..32) of v, the lowest last; v has no bits above them.
  void WriteBits(unsigned n, uint32_t v) {
    OutBits = (OutBits << n) | v;
    OutBitCount += n;
    if (OutBitCount >= kWordBits) {
      OutBitCount -= kWordBits;
      Run.PutSinkWord(static_cast<uint32_t>(OutBits >> OutBitCount));
    }
  }

  // Writes the pending bits, the last partial byte with its low bits zero.
  void FlushBits() {
    for (; OutBitCount >= 8; OutBitCount -= 8) {
      Run.PutSinkByte(static_cast<uint8_t>(OutBits >> (OutBitCount - 8)));
    }
    if (OutBitCount > 0) Run.PutSinkByte(static_cast<uint8_t>(OutBits << (8 - OutBitCount)));
    OutBits = 0;
    OutBitCount = 0;
  }

 private:
  static constexpr unsigned kWordBits = 32;

  TCodecRun& Run;
  uint64_t OutBits = 0;  // the low OutBitCount bits are pending, fewer than 32 between writes
  unsigned OutBitCount = 0;
};

}  // namespace vo
