// LH5 expansion: a bit reader over the run's source, the three codes of each block header, and
// the window copy of literals and matches.
#include <algorithm>
#include <array>
#include <cstring>

#include "codec/lh5.h"
#include "codec/lh5_tables.h"
#include "core/exception.h"
#include "core/messages.h"

namespace vo {
namespace lh5 {
namespace {

constexpr unsigned kUnaryLength = kLongestShortLength + 1;
// A symbol and its offset take at most 16 + 16 + 12 bits: with this many source bytes buffered,
// decoding them cannot reach a refill.
constexpr std::size_t kSymbolReadBound = 32;
// A symbol lookup entry: the table's value, and for a code of at most kSymbolTableBits bits
// its length and a flag.
constexpr uint32_t kEntryValueMask = 0xFFFF;
constexpr int kCodeLengthShift = 16;
constexpr int kCodeLengthMask = 0x1F;
constexpr uint32_t kWholeCode = 1u << 31;

[[noreturn]] void RaiseBadTable() {
  throw ELZHBadDecodeTable(kMsgBadDecodeTable);
}

class TLh5Expander {
 public:
  TLh5Expander(TCodecRun& run, TLh5Storage& storage)
      : Run(run), S(storage), SymbolTable(*storage.SymbolTable) {}

  void Expand(int32_t count);

 private:
  // The reader keeps at least kPeekBits bits of the stream ahead, left-aligned in BitBuffer,
  // and fetches a byte exactly when the byte-at-a-time reader did (the moment fewer than 16
  // bits are ahead), so source refills, progress and cancels fall at the same points. Bytes
  // already in the source buffer are taken a word at a time, which no one can observe.
  static constexpr int kPeekBits = 16;
  static constexpr int kBufferBits = 64;

  unsigned PeekBits(int n) const { return static_cast<unsigned>(BitBuffer >> (kBufferBits - n)); }

  void Lh5SkipBits(int n) {
    if (n > kPeekBits) {  // only a damaged small-length field asks for more
      Lh5SkipBits(kPeekBits);
      n -= kPeekBits;
    }
    BitBuffer <<= n;
    BitCount -= n;
    if (BitCount < kPeekBits) FillBits();
  }

  void FillBits() {
    while (BitCount < kPeekBits) {
      if (Run.EndOfInput) {  // past the end of the input the stream reads as zero bits
        BitCount += 8;
      } else if (Run.SourceBuffered() >= sizeof(BitBuffer)) {
        const int take = (kBufferBits - BitCount) / 8;
        uint8_t bytes[sizeof(BitBuffer)];
        Run.TakeSourceBytes(bytes, static_cast<std::size_t>(take));
        for (int i = 0; i < take; ++i) {
          BitCount += 8;
          BitBuffer |= uint64_t{bytes[i]} << (kBufferBits - BitCount);
        }
      } else {
        const uint8_t b = Run.GetSourceByte();  // 0 when it sets EndOfInput
        BitCount += 8;
        BitBuffer |= uint64_t{b} << (kBufferBits - BitCount);
      }
    }
  }

  unsigned Lh5TakeBits(int n) {
    const unsigned x = n == 0 ? 0 : PeekBits(n);  // a 64-bit shift would be undefined
    Lh5SkipBits(n);
    return x;
  }

  // Walks the tree below a lookup entry, one bit of the stream per step from mask on.
  unsigned WalkTree(unsigned j, unsigned n, unsigned mask) const {
    if (j == kUnfilledEntry) RaiseBadTable();
    do {
      j = (PeekBits(kPeekBits) & mask) != 0 ? S.OneChild[j] : S.ZeroChild[j];
      mask >>= 1;
    } while (j >= n);
    return j;
  }

  void ReadSmallLengths(int count, int width, int skip);
  void ReadSymbolLengths();
  void BuildSymbolLookup();
  unsigned DecodeSymbol();
  unsigned DecodeOffset();
  // Copies a match inside the window; returns the position after it.
  unsigned CopyMatch(unsigned start, unsigned r, unsigned length);
  // Gives the sink the window's bytes from PassedOn up to r.
  void PassOn(unsigned r) {
    if (r > PassedOn) Run.PutSinkSpan(S.Lh5Window.data() + PassedOn, r - PassedOn);
    PassedOn = r;
  }

  TCodecRun& Run;
  TLh5Storage& S;
  TSymbolTable& SymbolTable;
  // SymbolTable with each whole code's length beside its symbol, so that the common case costs
  // one lookup.
  std::array<uint32_t, 1u << kSymbolTableBits> SymbolLookup;
  uint64_t BitBuffer = 0;
  int BitCount = 0;
  unsigned PassedOn = 0;  // window position up to which the output has gone to the sink
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
    Lh5SkipBits(t < kUnaryLength ? kLengthFieldBits : static_cast<int>(t) - kLengthFieldBits);
    S.SmallLengths[i++] = static_cast<uint8_t>(t);
    if (i == skip) {
      const auto z = static_cast<int>(Lh5TakeBits(kSkipCountBits));
      std::fill_n(S.SmallLengths.begin() + i, z, uint8_t{0});
      i += z;
    }
  }
  if (i < count) std::fill(S.SmallLengths.begin() + i, S.SmallLengths.begin() + count, uint8_t{0});
  BuildDecodeTable(S, count, S.SmallLengths.data(), kSmallTableBits, S.SmallTable.data());
}

void TLh5Expander::ReadSymbolLengths() {
  const auto m = static_cast<int>(Lh5TakeBits(kSymbolCountBits));
  if (m == 0) {
    const unsigned v = Lh5TakeBits(kSymbolCountBits);
    if (v >= kSymbolCount) RaiseBadTable();
    std::fill_n(S.SymbolLengths.begin(), kSymbolCount, uint8_t{0});
    SymbolTable.fill(static_cast<uint16_t>(v));
    return;
  }
  int i = 0;
  while (i < m) {
    unsigned t = S.SmallTable[PeekBits(kSmallTableBits)];
    if (t >= kLengthCodeCount) t = WalkTree(t, kLengthCodeCount, 1u << (15 - kSmallTableBits));
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
  BuildDecodeTable(S, kSymbolCount, S.SymbolLengths.data(), kSymbolTableBits, SymbolTable.data());
}

void TLh5Expander::BuildSymbolLookup() {
  for (std::size_t i = 0; i < SymbolLookup.size(); ++i) {
    const unsigned j = SymbolTable[i];
    SymbolLookup[i] =
        j < kSymbolCount ? j | uint32_t{S.SymbolLengths[j]} << kCodeLengthShift | kWholeCode : j;
  }
}

unsigned TLh5Expander::DecodeSymbol() {
  if (S.BlockSymbolsLeft == 0) {  // Expand has passed on its output: the header may refill
    S.BlockSymbolsLeft = static_cast<uint16_t>(Lh5TakeBits(kBlockSizeBits));
    ReadSmallLengths(kLengthCodeCount, kLengthCodeCountBits, kLengthCodeSkipIndex);
    ReadSymbolLengths();
    BuildSymbolLookup();
    ReadSmallLengths(kOffsetSymbolCount, kOffsetCountBits, kNoSkip);
  }
  --S.BlockSymbolsLeft;  // a header count of 0 wraps to 65535 more symbols
  const uint32_t entry = SymbolLookup[PeekBits(kSymbolTableBits)];
  if ((entry & kWholeCode) != 0) {
    Lh5SkipBits(static_cast<int>(entry >> kCodeLengthShift) & kCodeLengthMask);
    return entry & kEntryValueMask;
  }
  Lh5SkipBits(kSymbolTableBits);
  const unsigned j = WalkTree(entry, kSymbolCount, 0x8000);
  Lh5SkipBits(S.SymbolLengths[j] - kSymbolTableBits);
  return j;
}

unsigned TLh5Expander::DecodeOffset() {
  unsigned j = S.SmallTable[PeekBits(kSmallTableBits)];
  if (j < kOffsetSymbolCount) {
    Lh5SkipBits(S.SmallLengths[j]);
  } else {
    Lh5SkipBits(kSmallTableBits);
    j = WalkTree(j, kOffsetSymbolCount, 0x8000);
    Lh5SkipBits(S.SmallLengths[j] - kSmallTableBits);
  }
  if (j == 0) return 0;
  const int extra = static_cast<int>(j) - 1;
  return (1u << extra) + Lh5TakeBits(extra);
}

// Decoded bytes collect in the window and go to the sink in spans. They go before anything
// that could read the source past its buffer (a refill reports progress) or raise, so the
// stream calls come in the same order as when each byte went to the sink as it was decoded.
void TLh5Expander::Expand(int32_t count) {
  FillBits();  // the first two bytes
  std::fill_n(S.Lh5Window.begin(), kWindowSize, kSpace);
  uint8_t* const window = S.Lh5Window.data();
  unsigned r = 0;
  int32_t produced = 0;
  try {
    while (produced < count) {
      if (S.BlockSymbolsLeft == 0 || Run.SourceBuffered() < kSymbolReadBound) PassOn(r);
      const unsigned s = DecodeSymbol();
      if (s < kFirstLengthSymbol) {
        window[r++] = static_cast<uint8_t>(s);
        ++produced;
      } else {
        const unsigned length = s - kLengthBase;
        const unsigned start = (r - DecodeOffset() - 1) & kWindowMask;
        produced += static_cast<int32_t>(length);
        r = CopyMatch(start, r, length);
      }
      if (r == kWindowSize) {
        PassOn(r);
        r = PassedOn = 0;
      }
    }
  } catch (const ELZHBadDecodeTable&) {
    // What was decoded before the damage reaches the sink, as it always did. A failure of the
    // sink itself passes straight out: a second try would repeat its write.
    PassOn(r);
    throw;
  }
  PassOn(r);
}

unsigned TLh5Expander::CopyMatch(unsigned start, unsigned r, unsigned length) {
  uint8_t* const window = S.Lh5Window.data();
  if (start + length > kWindowSize || r + length > kWindowSize) {
    // Across the window's end: one byte at a time, with the indexes wrapping.
    PassOn(r);
    for (unsigned k = 0; k < length; ++k) {
      const uint8_t x = window[(start + k) & kWindowMask];
      window[r] = x;
      Run.PutSinkByte(x);
      r = (r + 1) & kWindowMask;
    }
    PassedOn = r;
    return r;
  }
  uint8_t* const to = window + r;
  const uint8_t* const from = window + start;
  if (from + length <= to || to + length <= from) {
    std::memcpy(to, from, length);
  } else {
    // The match overlaps the bytes it produces: forward, so a short pattern repeats.
    for (unsigned k = 0; k < length; ++k) to[k] = from[k];
  }
  return r + length;
}

}  // namespace
}  // namespace lh5

void ExpandLh5(TCodecRun& run, int32_t count) {
  if (count == 0) return;
  const lh5::TLh5StorageHold storage = lh5::AcquireLh5Storage(false);
  lh5::TLh5Expander(run, *storage).Expand(count);
}

}  // namespace vo
