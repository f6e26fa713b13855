// What both directions of LZH share: the constants of the method, the adaptive Huffman model of
// its 314 symbols and the fixed prefix code of the upper six bits of a match offset.
#pragma once

#include <array>
#include <cstdint>

namespace vo::lzh {

inline constexpr unsigned kWindowSize = 4096;
inline constexpr unsigned kWindowMask = kWindowSize - 1;
inline constexpr unsigned kMaxMatch = 60;
inline constexpr unsigned kMinMatch = 3;
inline constexpr unsigned kStartPosition = kWindowSize - kMaxMatch;  // 4036
inline constexpr uint8_t kFillByte = 0x20;

inline constexpr unsigned kLiteralCount = 256;
inline constexpr unsigned kSymbolCount = kLiteralCount + kMaxMatch - kMinMatch + 1;  // 314
inline constexpr unsigned kNodeCount = 2 * kSymbolCount - 1;                         // 627
inline constexpr unsigned kRoot = kNodeCount - 1;                                    // 626
// A NodeChild entry of kNodeCount or more marks a leaf; the symbol is the entry minus this.
inline constexpr unsigned kLeafBase = kNodeCount;
inline constexpr uint16_t kRebuildWeight = 0x8000;
inline constexpr uint16_t kSentinelWeight = 0xFFFF;
// The longest code the model can give. In a tree kept in weight order each node on a path
// weighs at least its two successors on it together, so a leaf at depth d needs a root weight
// of Fibonacci(d + 2), and the root never weighs more than the rebuild weight.
constexpr unsigned LongestCode() {
  unsigned depth = 0;
  for (uint32_t lighter = 1, heavier = 2; heavier <= kRebuildWeight; ++depth) {
    const uint32_t next = lighter + heavier;
    lighter = heavier;
    heavier = next;
  }
  return depth;
}
inline constexpr unsigned kLongestCode = LongestCode();
static_assert(kLongestCode == 21);
// The nodes UpdateLzhModel compares with a new weight at a time, and so the sentinels it needs.
inline constexpr unsigned kWeightGroup = 8;
inline constexpr unsigned kParentScratch = kLeafBase + kSymbolCount;

// Match lengths are coded as the symbols that follow the literals.
constexpr unsigned MatchSymbol(unsigned length) {
  return kLiteralCount - kMinMatch + length;
}
constexpr unsigned MatchLengthOf(unsigned symbol) {
  return symbol + kMinMatch - kLiteralCount;
}

// The adaptive code tree: nodes ordered by weight, each internal node with its two children at
// an even position and the odd one after it. The code of a symbol is its path from the root.
class TLzhModel {
 public:
  void InitLzhModel();
  // Counts one more occurrence of symbol s and restores the weight order.
  void UpdateLzhModel(unsigned s);
  // The same for a symbol whose code was just read, also setting WatchedMoved when a watched
  // position's child is replaced: path[0..depth) are the positions the code passed through,
  // from the root's child down to the leaf. Until a node moves, no child changes and the path
  // is the chain of parents, so the walk up reads the next position from it instead of waiting
  // for each parent.
  void UpdateWatchedModel(unsigned s, const uint16_t* path, unsigned depth);

  // Bits of the code of symbol s; for tests and checks of the code length.
  unsigned CodeLength(unsigned s) const;

  std::array<uint16_t, kNodeCount + kWeightGroup> NodeWeight;  // sentinels after the nodes
  std::array<uint16_t, kNodeCount> NodeChild;
  // Parent of each position, then the leaf position of each symbol at kLeafBase + symbol,
  // and a scratch entry for the second child a leaf does not have.
  std::array<uint16_t, kNodeCount + kSymbolCount + 1> NodeParent;
  // Positions whose child a reader has cached (non-zero), and whether one of them, or any
  // position in a rebuild, has had its child replaced since; kept by UpdateWatchedModel.
  std::array<uint8_t, kNodeCount> Watched;
  bool WatchedMoved;

 private:
  void RebuildLzhModel();
  template <bool kWatch>
  void UpdateFrom(unsigned p);
  template <bool kWatch>
  unsigned MoveUp(unsigned p, uint16_t k);
};

// One row per value of the upper six bits u of an offset: its code, left-aligned in 8 bits,
// and the code length.
struct TOffsetCode {
  uint8_t Code;
  uint8_t Length;
};
// One row per value of the next 8 bits of the stream: the u whose code begins them.
struct TOffsetDecode {
  uint8_t Upper;
  uint8_t Length;
};

inline constexpr unsigned kOffsetUpperCount = 64;
inline constexpr unsigned kOffsetLowBits = 6;
inline constexpr unsigned kOffsetLowMask = (1u << kOffsetLowBits) - 1;

// The code lengths grow with u; each row of codes follows the last code of the row before.
constexpr std::array<TOffsetCode, kOffsetUpperCount> MakeOffsetCodeTable() {
  constexpr unsigned kRowEnd[] = {1, 4, 12, 24, 48, 64};  // first u of the next length
  std::array<TOffsetCode, kOffsetUpperCount> table{};
  unsigned code = 0;
  unsigned u = 0;
  for (unsigned row = 0; row < 6; ++row) {
    const unsigned length = 3 + row;
    for (; u < kRowEnd[row]; ++u) {
      table[u] = {static_cast<uint8_t>(code), static_cast<uint8_t>(length)};
      code += 1u << (8 - length);
    }
  }
  return table;
}

constexpr std::array<TOffsetDecode, 256> MakeOffsetDecodeTable(
    const std::array<TOffsetCode, kOffsetUpperCount>& codes) {
  std::array<TOffsetDecode, 256> table{};
  for (unsigned u = 0; u < kOffsetUpperCount; ++u) {
    const unsigned rows = 1u << (8 - codes[u].Length);
    for (unsigned v = codes[u].Code; v < codes[u].Code + rows; ++v)
      table[v] = {static_cast<uint8_t>(u), codes[u].Length};
  }
  return table;
}

inline constexpr std::array<TOffsetCode, kOffsetUpperCount> OffsetCodeTable = MakeOffsetCodeTable();
inline constexpr std::array<TOffsetDecode, 256> OffsetDecodeTable =
    MakeOffsetDecodeTable(OffsetCodeTable);

}  // namespace vo::lzh
