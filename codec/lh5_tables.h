// Internals shared by the two LH5 directions: the method's constants, the working storage of one
// run, and the decode-table builder.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace vo::lh5 {

inline constexpr int kWindowSize = 8192;
inline constexpr int kWindowMask = kWindowSize - 1;
inline constexpr int kMinMatch = 3;
inline constexpr int kMaxMatch = 256;
inline constexpr int kSymbolCount = 510;  // 0..255 literals, 256..509 match lengths 3..256
inline constexpr int kLengthBase = 253;   // match length = symbol - kLengthBase
inline constexpr int kFirstLengthSymbol = 256;
inline constexpr int kOffsetSymbolCount = 14;
inline constexpr int kLengthCodeCount = 19;
inline constexpr int kMaxCodeLength = 16;
inline constexpr int kBlockSizeBits = 16;
inline constexpr int kLengthCodeCountBits = 5;
inline constexpr int kSymbolCountBits = 9;
inline constexpr int kOffsetCountBits = 4;
inline constexpr int kLengthCodeSkipIndex = 3;
inline constexpr int kNoSkip = -1;
inline constexpr int kSymbolTableBits = 12;
inline constexpr int kSmallTableBits = 8;
// The small-length form: lengths below 7 in 3 bits, longer ones as 111 and a unary tail.
inline constexpr int kLengthFieldBits = 3;
inline constexpr int kLongestShortLength = 6;
inline constexpr int kSkipCountBits = 2;
// Code-length symbols: 0 one zero length, 1 a 4-bit run of 3..18 zeros, 2 a 9-bit run of
// 20..531 zeros, 3..18 the lengths 1..16.
inline constexpr int kZeroRunSymbol = 0;
inline constexpr int kZeroRunShortSymbol = 1;
inline constexpr int kZeroRunLongSymbol = 2;
inline constexpr int kZeroRunShortBits = 4;
inline constexpr int kZeroRunLongBits = 9;
inline constexpr int kZeroRunShortBase = 3;
inline constexpr int kZeroRunLongBase = 20;
inline constexpr int kLengthSymbolBase = 2;  // code-length symbol = length + 2
inline constexpr uint8_t kSpace = 0x20;      // fills the window before the first byte
inline constexpr uint32_t kCompleteCodeSum = 1u << kMaxCodeLength;

// Table entry that a build over all-zero lengths leaves behind: no symbol and no node, so a
// lookup that reaches it is refused instead of following stale entries.
inline constexpr uint16_t kUnfilledEntry = 0xFFFF;

inline constexpr std::size_t kTextSize = 16641;  // window when expanding, text buffer compressing
inline constexpr std::size_t kTreeNodeCount = 2 * kSymbolCount;
inline constexpr std::size_t kSmallLengthRoom = 129;  // any announced count plus skipped zeros
inline constexpr std::size_t kTrieEntryCount = 16385;
inline constexpr int kTrieSlotBits = 16;
inline constexpr std::size_t kPendingSize = 16385;

// The hash chain that holds the child of inner node q (1..8191) for byte b. A lookup walks the
// chain for the first entry whose parent is q, without looking at bytes, so the slots of one
// node must differ for every byte: the byte picks the slot within a block of 256 that the
// multiplier picks for the node. The children of a busy node so share a few cache lines.
inline int TrieSlot(int q, int b) {
  constexpr uint32_t kSlotMultiplier = 0x9E3779B1u;
  const uint32_t spread = (static_cast<uint32_t>(q) * kSlotMultiplier) >> (32 - kTrieSlotBits);
  return static_cast<int>(spread ^ static_cast<uint32_t>(b));
}

// One entry of the match finder's trie, for an inner node (1..8191), a root (8192..8447) or a
// leaf (8192..16383). Roots and leaves share numbers: a root uses only Level, ChildCount,
// ChildXor and Position, a leaf only Parent, Prev and Next. The fields a step reads lie in one
// cache line.
struct alignas(16) TTrieEntry {
  uint16_t Parent;    // 0: not in the trie
  uint16_t Next;      // next entry of the hash chain; also the free list, and a replaced leaf's
                      // successor
  uint32_t Prev;      // where the link that holds this entry lies, as a byte offset in
                      // TLh5CompressArrays
  uint16_t Position;  // a recent window position under an inner node
  uint16_t ChildXor;  // the children's numbers XORed: names the last child left
  uint8_t Level;      // string depth of an inner node or root
  uint8_t ChildCount;
};

// Keeps the arrays of the block coder, which may run while the match finder works on another
// thread, off the cache lines of the finder's: no two bytes this far apart share a line. A gap
// rather than an alignment, which would take an aligned allocation the loader would have to link.
inline constexpr std::size_t kCacheLineGap = 64;

// The match finder's trie and the block coder's queue and codes.
struct TLh5CompressArrays {
  std::array<TTrieEntry, kTrieEntryCount> Trie;
  std::array<uint16_t, 1u << kTrieSlotBits> TrieHead;  // first entry of each hash chain
  std::array<uint16_t, 1u << 16> RootChild;  // child of root(b0) for byte b1, at b0 * 256 + b1
  std::array<uint8_t, kCacheLineGap> CoderGap;
  // The block coder's.
  std::array<uint8_t, kPendingSize> PendingItems;
  std::array<uint16_t, kTreeNodeCount> SymbolFreq;
  std::array<uint16_t, kSymbolCount + 1> SymbolCodes;
  std::array<uint16_t, kSmallLengthRoom> SmallCodes;
};

// The working storage of one run, for one direction.
struct TLh5Storage {
  std::array<uint8_t, kTextSize> Lh5Window;
  std::array<uint8_t, kCacheLineGap> CoderGap;
  // The block coder's Huffman trees when compressing.
  std::array<uint16_t, kTreeNodeCount> ZeroChild;
  std::array<uint16_t, kTreeNodeCount> OneChild;
  std::array<uint16_t, (1u << kSmallTableBits) + 1> SmallTable;
  std::array<uint8_t, kSymbolCount + 1> SymbolLengths;
  std::array<uint8_t, kSmallLengthRoom> SmallLengths;
  std::unique_ptr<TLh5CompressArrays> Compress;  // compression only
  // The bit reader.
  uint16_t Lh5InBits = 0;
  uint8_t Lh5InByte = 0;
  uint8_t Lh5InByteBits = 0;
  uint16_t BlockSymbolsLeft = 0;
};

void ReleaseLh5Storage(TLh5Storage* storage);

struct TLh5StorageRelease {
  void operator()(TLh5Storage* storage) const { ReleaseLh5Storage(storage); }
};
using TLh5StorageHold = std::unique_ptr<TLh5Storage, TLh5StorageRelease>;

// Acquires the arrays one direction needs, with the bit state of a fresh stream.
TLh5StorageHold AcquireLh5Storage(bool compress);

// Where each code length's codes start in a table of 2^b entries, and how many entries one code
// of that length fills; lengths above b count in units of the longest code.
struct TCodeLayout {
  std::array<uint32_t, kMaxCodeLength + 2> Start{};
  std::array<uint32_t, kMaxCodeLength + 2> Weight{};
  bool Empty = false;  // all lengths 0
};

// The layout of the canonical code of n symbols with the given lengths; raises
// ELZHBadDecodeTable unless the lengths form a complete code of at most 16 bits or are all 0.
TCodeLayout LayOutCode(int n, const uint8_t* length, int b);

// Fills table (2^b entries) and the trees below it for the canonical code of n symbols with the
// given lengths: a code of at most b bits fills its entries with leaf(symbol), a longer one
// starts at the number of a tree node (n or more). The expander's lookups hold each code's
// length beside its symbol, so it builds them here directly instead of converting a table of
// symbols afterwards. Raises as LayOutCode.
template <typename TEntry, typename TLeaf>
void BuildDecodeTable(TLh5Storage& storage, int n, const uint8_t* length, int b, TEntry* table,
                      TLeaf leaf) {
  TCodeLayout code = LayOutCode(n, length, b);
  const uint32_t tableSize = 1u << b;
  if (code.Empty) {  // nothing here may ever be decoded
    std::fill_n(table, tableSize, TEntry{kUnfilledEntry});
    return;
  }
  const int s = kMaxCodeLength - b;
  // Entries behind the short codes lead into trees.
  std::fill(table + (code.Start[b + 1] >> s), table + tableSize, TEntry{0});

  const uint32_t branchBit = 1u << (kMaxCodeLength - 1 - b);
  auto nextNode = static_cast<uint16_t>(n);
  for (int y = 0; y < n; ++y) {
    const int l = length[y];
    if (l == 0) continue;
    const uint32_t end = code.Start[l] + code.Weight[l];
    if (l <= b) {
      std::fill(table + code.Start[l], table + end, leaf(y));
    } else {
      uint32_t k = code.Start[l];
      TEntry& root = table[k >> s];
      if (root == 0) {
        storage.ZeroChild[nextNode] = 0;
        storage.OneChild[nextNode] = 0;
        root = nextNode++;
      }
      uint16_t* slot = (k & branchBit) != 0 ? &storage.OneChild[root] : &storage.ZeroChild[root];
      for (int d = l - b - 1; d > 0; --d) {
        k = (k << 1) & 0xFFFF;
        if (*slot == 0) {
          storage.ZeroChild[nextNode] = 0;
          storage.OneChild[nextNode] = 0;
          *slot = nextNode++;
        }
        slot = (k & branchBit) != 0 ? &storage.OneChild[*slot] : &storage.ZeroChild[*slot];
      }
      *slot = static_cast<uint16_t>(y);
    }
    code.Start[l] = end;
  }
}

}  // namespace vo::lh5
