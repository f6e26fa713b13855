// The LZH bit stream: bits packed most significant first, symbol codes read from and written
// to the adaptive model, and match offsets in their fixed prefix code plus six raw bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "codec/bit_writer.h"
#include "codec/engine.h"
#include "codec/lzh_model.h"

namespace vo::lzh {

// Takes bits from the run's source; bits read while EndOfInput is set are zeros.
// A byte is due when a read starts with at most 8 bits ahead, as in a reader that holds 16 bits:
// bytes still in the source buffer are taken early, a word at a time, which nothing can observe,
// while a byte that needs a refill (or comes while EndOfInput is set) is fetched exactly then.
class TLzhBitReader {
 public:
  explicit TLzhBitReader(TCodecRun& run) : Run(run) {}

  unsigned ReadBit() { return ReadBitField(1); }
  unsigned ReadEightBits() { return ReadBitField(8); }

  // The next n bits (1..8) as an unsigned number.
  unsigned ReadBitField(unsigned n) {
    if (InBitCount <= kDueCount) Refill();
    const auto result = static_cast<unsigned>(InBits >> (kBufferBits - n));
    InBits <<= n;
    InBitCount -= n;
    return result;
  }

  // Follows child[m + next bit] from m until a leaf (an entry of kLeafBase or more), as
  // ReadBit would one bit at a time; the bits on hand are walked in registers between refills.
  template <std::size_t N>
  unsigned WalkToLeaf(const std::array<uint16_t, N>& child, unsigned m) {
    while (m < kLeafBase) {
      if (InBitCount <= kDueCount) Refill();
      uint64_t bits = InBits;
      unsigned count = InBitCount;
      do {
        m = child[m + static_cast<unsigned>(bits >> (kBufferBits - 1))];
        bits <<= 1;
        --count;
      } while (m < kLeafBase && count > kDueCount);
      InBits = bits;
      InBitCount = count;
    }
    return m;
  }

 private:
  static constexpr unsigned kBufferBits = 64;
  static constexpr unsigned kDueCount = 8;

  void Refill() {
    if (!Run.EndOfInput && Run.SourceBuffered() >= sizeof(InBits)) {
      const unsigned take = (kBufferBits - InBitCount) / 8;
      uint8_t bytes[sizeof(InBits)];
      Run.TakeSourceBytes(bytes, take);
      for (unsigned i = 0; i < take; ++i) {
        InBitCount += 8;
        InBits |= uint64_t{bytes[i]} << (kBufferBits - InBitCount);
      }
      return;
    }
    uint8_t b = Run.GetSourceByte();
    if (Run.EndOfInput) b = 0;
    InBitCount += 8;
    InBits |= uint64_t{b} << (kBufferBits - InBitCount);
  }

  TCodecRun& Run;
  uint64_t InBits = 0;  // left-aligned
  unsigned InBitCount = 0;
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
