// The LZH bit stream: bits packed most significant first, symbol codes read from and written
// to the adaptive model, and match offsets in their fixed prefix code plus six raw bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/bit_writer.h"
#include "codec/engine.h"
#include "codec/expand_io.h"
#include "codec/lzh_model.h"

namespace vo::lzh {

// Reads the stream through the engine's bit reader. A read of n bits (1 to 8) finds more than
// 8 bits ahead, as in a reader of 16 bits that took a byte whenever a read began with 8 or
// fewer: the next chunk of the source is read at that moment, no sooner.
class TLzhBitReader {
 public:
  static constexpr unsigned kDueBits = 9;

  // output, if given, takes what was decoded before each read of the source.
  explicit TLzhBitReader(TCodecRun& run, TExpandOutput* output = nullptr) : In(run, output) {}

  unsigned ReadBit() { return ReadBitField(1); }
  unsigned ReadEightBits() { return ReadBitField(8); }

  // The next n bits (1..8) as an unsigned number; fails past the end of the input.
  unsigned ReadBitField(unsigned n) {
    In.Ensure(kDueBits);
    const unsigned result = In.Peek(n);
    In.Consume(n);
    return result;
  }

  // Follows child[m + next bit] from m until a leaf (an entry of kLeafBase or more).
  template <std::size_t N>
  unsigned WalkToLeaf(const std::array<uint16_t, N>& child, unsigned m) {
    while (m < kLeafBase) m = child[m + ReadBit()];
    return m;
  }

  TExpandInput In;
};

using TLzhBitWriter = TBitWriter;

// Walks down from the root one bit per level, then counts the symbol.
inline unsigned ReadLzhSymbol(TLzhModel& model, TLzhBitReader& bits) {
  const unsigned s = bits.WalkToLeaf(model.NodeChild, model.NodeChild[kRoot]) - kLeafBase;
  model.UpdateLzhModel(s);
  return s;
}

inline unsigned ReadMatchOffset(TLzhBitReader& bits) {
  const unsigned v = bits.ReadEightBits();
  const TOffsetDecode row = OffsetDecodeTable[v];
  // The bits of v after the code and the bits read now form the six raw low bits.
  const unsigned e = bits.ReadBitField(row.Length - 2u);
  const unsigned low = ((v << (row.Length - 2u)) + e) & kOffsetLowMask;
  return (static_cast<unsigned>(row.Upper) << kOffsetLowBits) + low;
}

// Writes the path from the root to the leaf of s, then counts the symbol. A code stays well
// under 32 bits: in a tree kept in weight order, each level up at least adds the weights of
// the level below, and a path of 32 levels would need a root weight far past the rebuild.
inline void WriteLzhSymbol(TLzhModel& model, TLzhBitWriter& bits, unsigned s) {
  uint32_t code = 0;
  unsigned len = 0;
  unsigned p = model.NodeParent[kLeafBase + s];
  do {
    code |= (p & 1u) << len;  // collected from the leaf up, so the bit next to the root is last
    ++len;
    p = model.NodeParent[p];
  } while (p != kRoot);
  bits.WriteBits(len, code);
  model.UpdateLzhModel(s);
}

inline void WriteMatchOffset(TLzhBitWriter& bits, unsigned o) {
  const TOffsetCode upper = OffsetCodeTable[o >> kOffsetLowBits];
  const unsigned code = upper.Code >> (8 - upper.Length);
  bits.WriteBits(upper.Length + kOffsetLowBits, (code << kOffsetLowBits) | (o & kOffsetLowMask));
}

}  // namespace vo::lzh
