// LH5 expansion: the three codes of each block header, and a loop that decodes literals and
// matches into the engine's output window: a fast one without per-item checks while a whole
// item fits in the input and output at hand, and a careful one for the rest.
#include <algorithm>
#include <array>

#include "codec/expand_io.h"
#include "codec/lh5.h"
#include "codec/lh5_tables.h"
#include "core/exception.h"
#include "core/messages.h"

namespace vo {
namespace lh5 {
namespace {

constexpr unsigned kUnaryLength = kLongestShortLength + 1;
// The careful reader keeps this many bits ahead after each step, as the byte-at-a-time reader
// did: it reads the next chunk of the source when fewer are left.
constexpr unsigned kPeekBits = 16;
constexpr unsigned kMaxOffsetExtraBits = kOffsetSymbolCount - 2;
// An item: a literal/length code, an offset code and the offset's extra bits.
constexpr unsigned kMaxItemBits = 2 * kMaxCodeLength + kMaxOffsetExtraBits;
// One refill before each item of the fast loop serves the whole item, and leaves the lookup
// width of the next item's code ahead for its early lookup.
static_assert(kMaxItemBits + kSymbolTableBits <= TFastBits::kRefilledBits);
// Literals of whole codes, which the lookup holds, that one refill serves; they leave the width
// of the next lookup too.
constexpr int kLiteralsPerRefill = 3;
static_assert((kLiteralsPerRefill + 1) * kSymbolTableBits <= TFastBits::kRefilledBits);
// The fast loop starts an item only with a word of the chunk unread; the bits it leaves ahead
// keep the careful reader's lookahead, so it never ends where that reader would have read on.
static_assert(kMaxItemBits + kPeekBits <= TFastBits::kRefilledBits + 8);
constexpr std::size_t kOutputRoom = 8 * kWindowSize;  // bytes written between two slides

// A lookup entry: for a whole code its length in the low bits (where a shift by the entry
// finds it without masking), its value and a flag; otherwise the tree node the code continues
// in. Literal/length entries hold the symbol, and for a literal a flag that spares the fast loop
// the symbol's range check; offset entries the distance back that the extra bits add to, how many
// extra bits follow, and as length the code's and theirs together.
constexpr uint32_t kCodeLengthMask = 0x3F;
constexpr int kExtraBitsShift = 6;
constexpr uint32_t kExtraBitsMask = 0x1F;
constexpr int kEntryValueShift = 16;
constexpr uint32_t kEntryValueMask = 0x3FFF;
constexpr uint32_t kLiteralCode = 1u << 30;
constexpr uint32_t kWholeCode = 1u << 31;
static_assert(kMaxCodeLength <= kCodeLengthMask && kMaxOffsetExtraBits <= kExtraBitsMask);
static_assert((kExtraBitsMask << kExtraBitsShift) < 1u << kEntryValueShift);
// Entries that are no whole code (tree nodes, kUnfilledEntry) have neither flag.
static_assert(kEntryValueMask << kEntryValueShift < kLiteralCode && kUnfilledEntry < kLiteralCode);
static_assert(kWindowSize <= kEntryValueMask && kSymbolCount <= kEntryValueMask);
// A tree walk returns the symbol in its low bits and its steps from this bit on.
constexpr int kWalkStepsShift = 16;
constexpr uint32_t kWalkSymbolMask = 0xFFFF;

[[noreturn]] void RaiseBadTable() {
  throw ELZHBadDecodeTable(kMsgBadDecodeTable);
}

unsigned CodeLengthOf(uint32_t entry) {
  return entry & kCodeLengthMask;
}

unsigned ValueOf(uint32_t entry) {
  return entry >> kEntryValueShift & kEntryValueMask;
}

class TLh5Expander {
 public:
  TLh5Expander(TCodecRun& run, TLh5Storage& storage, int32_t count)
      : S(storage),
        Output(run, kWindowSize, kOutputRoom, kMaxMatch, kSpace, count),
        In(run, &Output) {}

  void Expand();

 private:
  unsigned PeekBits(unsigned n) const { return In.Peek(n); }

  void Lh5SkipBits(unsigned n) {
    if (n > kPeekBits) {  // only a damaged small-length field asks for more
      Lh5SkipBits(kPeekBits);
      n -= kPeekBits;
    }
    In.Consume(n);
    In.Ensure(kPeekBits);
  }

  unsigned Lh5TakeBits(unsigned n) {
    const unsigned x = n == 0 ? 0 : PeekBits(n);  // a 64-bit shift would be undefined
    Lh5SkipBits(n);
    return x;
  }

  // Walks the tree below a lookup entry, one bit per step from the top bit of bits on; returns
  // the symbol, and in the bits from kWalkStepsShift on how many steps the walk took. Out of
  // line and by value, so that the fast loops keep their registers.
  [[gnu::noinline]] uint32_t WalkTree(unsigned j, unsigned n, uint64_t bits) const {
    if (j == kUnfilledEntry) RaiseBadTable();
    uint32_t steps = 0;
    do {
      j = (bits >> 63) != 0 ? S.OneChild[j] : S.ZeroChild[j];
      bits <<= 1;
      ++steps;
    } while (j >= n);
    return j | steps << kWalkStepsShift;
  }

  void ReadSmallLengths(int count, int width, int skip);
  void ReadSymbolLengths();
  void ReadBlockHeader();
  void BuildOffsetLookup();
  // The lookup entry of a literal/length symbol whose whole code the table holds.
  uint32_t SymbolEntry(unsigned y) const {
    return y << kEntryValueShift | S.SymbolLengths[y] | kWholeCode |
           (y < kFirstLengthSymbol ? kLiteralCode : 0);
  }
  unsigned DecodeSymbol();
  std::size_t DecodeDistance();
  void FastLoop();

  TLh5Storage& S;
  // The tables of the current block with each whole code's length beside its value, so that
  // the common case costs one lookup. The symbols' is built from the code lengths; the offsets'
  // from the small table, which also serves the code-length code of the next block.
  std::array<uint32_t, 1u << kSymbolTableBits> SymbolLookup{};
  std::array<uint32_t, 1u << kSmallTableBits> OffsetLookup{};
  TExpandOutput Output;
  TExpandInput In;
};

void TLh5Expander::ReadSmallLengths(int count, int width, int skip) {
  const auto m = static_cast<int>(Lh5TakeBits(width));
  if (m == 0) {
    const unsigned v = Lh5TakeBits(width);
    if (v >= static_cast<unsigned>(count)) RaiseBadTable();
    std::fill_n(S.SmallLengths.begin(), count, uint8_t{0});
    std::fill_n(S.SmallTable.begin(), 1u << kSmallTableBits, static_cast<uint16_t>(v));
    return;
  }
  int i = 0;
  while (i < m) {
    unsigned t = PeekBits(kLengthFieldBits);
    if (t == kUnaryLength) {
      for (unsigned mask = 1u << (15 - kLengthFieldBits); (PeekBits(kPeekBits) & mask) != 0;
           mask >>= 1) {
        ++t;
      }
    }
    Lh5SkipBits(t < kUnaryLength ? kLengthFieldBits : t - kLengthFieldBits);
    S.SmallLengths[i++] = static_cast<uint8_t>(t);
    if (i == skip) {
      const auto z = static_cast<int>(Lh5TakeBits(kSkipCountBits));
      std::fill_n(S.SmallLengths.begin() + i, z, uint8_t{0});
      i += z;
    }
  }
  if (i < count) std::fill(S.SmallLengths.begin() + i, S.SmallLengths.begin() + count, uint8_t{0});
  BuildDecodeTable(S, count, S.SmallLengths.data(), kSmallTableBits, S.SmallTable.data(),
                   [](int y) { return static_cast<uint16_t>(y); });
}

void TLh5Expander::ReadSymbolLengths() {
  const auto m = static_cast<int>(Lh5TakeBits(kSymbolCountBits));
  if (m == 0) {
    const unsigned v = Lh5TakeBits(kSymbolCountBits);
    if (v >= kSymbolCount) RaiseBadTable();
    std::fill_n(S.SymbolLengths.begin(), kSymbolCount, uint8_t{0});
    SymbolLookup.fill(SymbolEntry(v));
    return;
  }
  int i = 0;
  while (i < m) {
    unsigned t = S.SmallTable[PeekBits(kSmallTableBits)];
    if (t >= kLengthCodeCount) {
      t = WalkTree(t, kLengthCodeCount, uint64_t{PeekBits(kPeekBits)} << (64 - kSmallTableBits)) &
          kWalkSymbolMask;
    }
    Lh5SkipBits(S.SmallLengths[t]);
    if (t > kZeroRunLongSymbol) {
      // A count field of 511 may place one length in the spare entry 510, which no code uses.
      S.SymbolLengths[i++] = static_cast<uint8_t>(t - kLengthSymbolBase);
      continue;
    }
    int zeros = 1;
    if (t == kZeroRunShortSymbol)
      zeros = static_cast<int>(Lh5TakeBits(kZeroRunShortBits)) + kZeroRunShortBase;
    if (t == kZeroRunLongSymbol)
      zeros = static_cast<int>(Lh5TakeBits(kZeroRunLongBits)) + kZeroRunLongBase;
    if (i + zeros > kSymbolCount) RaiseBadTable();
    std::fill_n(S.SymbolLengths.begin() + i, zeros, uint8_t{0});
    i += zeros;
  }
  if (i < kSymbolCount) {
    std::fill(S.SymbolLengths.begin() + i, S.SymbolLengths.begin() + kSymbolCount, uint8_t{0});
  }
  BuildDecodeTable(S, kSymbolCount, S.SymbolLengths.data(), kSymbolTableBits, SymbolLookup.data(),
                   [this](int y) { return SymbolEntry(static_cast<unsigned>(y)); });
}

void TLh5Expander::ReadBlockHeader() {
  S.BlockSymbolsLeft = static_cast<uint16_t>(Lh5TakeBits(kBlockSizeBits));
  ReadSmallLengths(kLengthCodeCount, kLengthCodeCountBits, kLengthCodeSkipIndex);
  ReadSymbolLengths();
  ReadSmallLengths(kOffsetSymbolCount, kOffsetCountBits, kNoSkip);
  BuildOffsetLookup();
}

void TLh5Expander::BuildOffsetLookup() {
  for (std::size_t i = 0; i < OffsetLookup.size(); ++i) {
    const unsigned j = S.SmallTable[i];
    if (j >= kOffsetSymbolCount) {
      OffsetLookup[i] = j;
      continue;
    }
    // Offset symbol j stands for 2^(j-1) and j-1 extra bits; symbol 0 for offset 0. The
    // distance is one more than the offset.
    const uint32_t extra = j == 0 ? 0 : j - 1;
    const uint32_t distance = (j == 0 ? 0 : 1u << extra) + 1;
    OffsetLookup[i] = distance << kEntryValueShift | extra << kExtraBitsShift |
                      (S.SmallLengths[j] + extra) | kWholeCode;
  }
}

unsigned TLh5Expander::DecodeSymbol() {
  if (S.BlockSymbolsLeft == 0) ReadBlockHeader();
  --S.BlockSymbolsLeft;  // a header count of 0 wraps to 65535 more symbols
  const uint32_t entry = SymbolLookup[PeekBits(kSymbolTableBits)];
  if ((entry & kWholeCode) != 0) {
    Lh5SkipBits(CodeLengthOf(entry));
    return ValueOf(entry);
  }
  if (entry == kUnfilledEntry) RaiseBadTable();  // before its bits, which may not be there
  Lh5SkipBits(kSymbolTableBits);
  const uint32_t walked =
      WalkTree(entry, kSymbolCount, uint64_t{PeekBits(kPeekBits)} << (64 - kPeekBits));
  Lh5SkipBits(walked >> kWalkStepsShift);
  return walked & kWalkSymbolMask;
}

// The distance back to a match's first byte: its offset plus one.
std::size_t TLh5Expander::DecodeDistance() {
  const uint32_t entry = OffsetLookup[PeekBits(kSmallTableBits)];
  unsigned j = entry;
  if ((entry & kWholeCode) != 0) {
    const unsigned extra = entry >> kExtraBitsShift & kExtraBitsMask;
    Lh5SkipBits(CodeLengthOf(entry) - extra);
    return ValueOf(entry) + Lh5TakeBits(extra);
  }
  if (entry == kUnfilledEntry) RaiseBadTable();
  Lh5SkipBits(kSmallTableBits);
  const uint32_t walked =
      WalkTree(j, kOffsetSymbolCount, uint64_t{PeekBits(kPeekBits)} << (64 - kPeekBits));
  Lh5SkipBits(walked >> kWalkStepsShift);
  j = walked & kWalkSymbolMask;
  if (j == 0) return 1;
  return (std::size_t{1} << (j - 1)) + Lh5TakeBits(j - 1) + 1;
}

// Items of the current block while a whole item fits in the chunk and the window at hand,
// counted ahead in runs so that an item needs no check of its own. The lookup of each item
// comes before the refill that serves it: at least a code's lookup width is left ahead after
// any item, so the two loads need not wait for each other.
void TLh5Expander::FastLoop() {
  TFastBits bits = In.Fast();
  uint8_t* out = Output.Out;
  uint32_t entry = SymbolLookup[bits.Peek(kSymbolTableBits)];
  for (;;) {
    std::size_t n =
        std::min({std::size_t{S.BlockSymbolsLeft}, In.FastItems(bits.Next, kMaxItemBits),
                  Output.FastItems(out, kMaxMatch)});
    if (n == 0) break;
    S.BlockSymbolsLeft = static_cast<uint16_t>(S.BlockSymbolsLeft - n);
    do {
      bits.Refill();
      if ((entry & kLiteralCode) != 0) {
        // The literals that follow, up to kLiteralsPerRefill in all, need no refill of their own.
        for (int k = 1;; ++k) {
          bits.Skip(CodeLengthOf(entry));
          *out++ = static_cast<uint8_t>(entry >> kEntryValueShift);
          entry = SymbolLookup[bits.Peek(kSymbolTableBits)];
          if (k == kLiteralsPerRefill || (entry & kLiteralCode) == 0 || n == 1) break;
          --n;
        }
        continue;
      }
      unsigned s;
      if ((entry & kWholeCode) != 0) {  // a length: a whole literal's code has the flag
        bits.Skip(CodeLengthOf(entry));
        s = ValueOf(entry);
      } else {
        const uint32_t walked = WalkTree(entry, kSymbolCount, bits.Bits << kSymbolTableBits);
        bits.Skip(kSymbolTableBits + (walked >> kWalkStepsShift));
        s = walked & kWalkSymbolMask;
        if (s < kFirstLengthSymbol) {
          *out++ = static_cast<uint8_t>(s);
          entry = SymbolLookup[bits.Peek(kSymbolTableBits)];
          continue;
        }
      }
      const uint32_t o = OffsetLookup[bits.Peek(kSmallTableBits)];
      std::size_t distance;
      if ((o & kWholeCode) != 0) {
        // The extra bits are the last of the code and extra bits taken together.
        const unsigned extraMask = (1u << (o >> kExtraBitsShift & kExtraBitsMask)) - 1;
        distance = ValueOf(o) + (bits.Peek0(CodeLengthOf(o)) & extraMask);
        bits.Skip(CodeLengthOf(o));
      } else {
        const uint32_t walked = WalkTree(o, kOffsetSymbolCount, bits.Bits << kSmallTableBits);
        bits.Skip(kSmallTableBits + (walked >> kWalkStepsShift));
        const unsigned j = walked & kWalkSymbolMask;
        distance = j == 0 ? 1 : (std::size_t{1} << (j - 1)) + bits.Take(j - 1) + 1;
      }
      entry = SymbolLookup[bits.Peek(kSymbolTableBits)];
      out = CopyMatch(out, distance, s - kLengthBase);
    } while (--n != 0);
  }
  Output.Out = out;
  In.Resume(bits);
}

// Between fast runs, one item at a time with every check: a block header, the end of a chunk,
// of the window or of the count. Before a read of the source the output so far reaches the
// sink, so reads, progress reports and writes come in the order of a byte-at-a-time decoder.
void TLh5Expander::Expand() {
  In.Ensure(kPeekBits);  // the first two bytes
  try {
    while (Output.Left() > 0) {
      Output.MakeRoom();
      FastLoop();
      Output.MakeRoom();
      if (Output.Left() == 0) break;
      In.Ensure(kPeekBits);  // the fast loop may leave fewer bits ahead
      const unsigned s = DecodeSymbol();
      if (s < kFirstLengthSymbol) {
        *Output.Out++ = static_cast<uint8_t>(s);
        continue;
      }
      const std::size_t length = s - kLengthBase;
      const std::size_t distance = DecodeDistance();
      Output.Out = CopyMatch(Output.Out, distance, std::min(length, Output.Left()));
    }
  } catch (const ELZHBadDecodeTable&) {
    // What was decoded before the damage reaches the sink, as it always did. A failure of the
    // sink itself passes straight out: a second try would repeat its write.
    Output.PassOn();
    throw;
  }
  Output.PassOn();
}

}  // namespace
}  // namespace lh5

void ExpandLh5(TCodecRun& run, int32_t count) {
  if (count <= 0) return;
  const lh5::TLh5StorageHold storage = lh5::AcquireLh5Storage(false);
  lh5::TLh5Expander(run, *storage, count).Expand();
}

}  // namespace vo
