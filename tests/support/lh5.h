// Helpers for the LH5 tests: runs through the engine, test inputs, and a bit packer for
// hand-made streams.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/support/codec_runs.h"

namespace vo::test {

inline ByteVector ExpandLh5Bytes(const ByteVector& stored, int32_t count) {
  return ExpandBytes(kMethodLh5, stored, count);
}

inline ByteVector CompressLh5Bytes(const ByteVector& plain, int32_t reserve = kNoCompressLimit) {
  return CompressBytes(kMethodLh5, plain, reserve);
}

// Random bytes from {0x00, 0x14, 0x29, 0x2C}: the literal code lengths then hold runs of 19, 20
// and 2 zero lengths, the runs that need each form of the zero-run code.
inline ByteVector ZeroRunBytes(std::size_t n, uint32_t seed) {
  static constexpr uint8_t kLetters[] = {0x00, 0x14, 0x29, 0x2C};
  std::mt19937 random(seed);
  ByteVector out(n);
  for (uint8_t& b : out) b = kLetters[random() % std::size(kLetters)];
  return out;
}

// Packs fields most significant bit first, as the LH5 stream does.
class TBitPacker {
 public:
  TBitPacker& Put(int n, unsigned v) {
    for (int i = n - 1; i >= 0; --i) {
      Current = static_cast<uint8_t>(Current << 1 | ((v >> i) & 1u));
      if (++Filled == 8) {
        Out.push_back(Current);
        Current = 0;
        Filled = 0;
      }
    }
    return *this;
  }
  ByteVector Finish() {
    ByteVector out = Out;
    if (Filled != 0) out.push_back(static_cast<uint8_t>(Current << (8 - Filled)));
    return out;
  }

 private:
  ByteVector Out;
  uint8_t Current = 0;
  int Filled = 0;
};

}  // namespace vo::test
