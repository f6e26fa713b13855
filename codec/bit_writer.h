// Writing a bit stream to a codec run's sink, the first bit in the top bit of each byte. Both
// compressors write this way.
#pragma once

#include <cstdint>

#include "codec/engine.h"

namespace vo {

// Gives bytes to the run's sink, each as soon as its last bit is written.
class TBitWriter {
 public:
  explicit TBitWriter(TCodecRun& run) : Run(run) {}

  // Appends the n bits (0..32) of v, the lowest last; v has no bits above them.
  void WriteBits(unsigned n, uint32_t v) {
    OutBits = (OutBits << n) | v;
    OutBitCount += n;
    while (OutBitCount >= 8) {
      OutBitCount -= 8;
      Run.PutSinkByte(static_cast<uint8_t>(OutBits >> OutBitCount));
    }
  }

  // Writes the last partial byte, its low bits zero.
  void FlushBits() {
    if (OutBitCount > 0) Run.PutSinkByte(static_cast<uint8_t>(OutBits << (8 - OutBitCount)));
    OutBits = 0;
    OutBitCount = 0;
  }

 private:
  TCodecRun& Run;
  uint64_t OutBits = 0;  // the low OutBitCount bits are pending, fewer than 8 between writes
  unsigned OutBitCount = 0;
};

}  // namespace vo
