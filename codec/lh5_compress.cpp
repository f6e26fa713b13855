// LH5 compression: a suffix trie over the last 8192 positions finds matches, a one-step
// look-ahead parse picks literals or matches, and queued items go out in blocks with Huffman
// codes built for each block and limited to 16 bits.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>

#include "codec/bit_writer.h"
#include "codec/lh5.h"
#include "codec/lh5_finder.h"
#include "codec/lh5_huffman.h"
#include "codec/lh5_segments.h"
#include "codec/lh5_tables.h"

namespace vo {
namespace lh5 {
namespace {

constexpr unsigned kFlushThreshold = 16360;
constexpr unsigned kFirstFlag = 0x80;
constexpr int kItemsPerGroup = 8;
constexpr unsigned kUnaryOnes = 0xFFFE;
constexpr int kSkipLimit = 6;        // the skip field covers indexes 3..5
constexpr int kZeroRunAwkward = 19;  // one more than the short form reaches, one less than the long
constexpr int kOffsetFreqSize = 2 * kOffsetSymbolCount;
constexpr int kLengthCodeFreqSize = 2 * kLengthCodeCount;

// The block coder: queues the parse's items and sends them in blocks, each with the Huffman codes
// built for it. With several threads it runs while finders work on other threads, and touches
// none of their state.
class TLh5BlockCoder {
 public:
  TLh5BlockCoder(TCodecRun& run, TLh5Storage& storage)
      : S(storage), C(*storage.Compress), Huffman(storage), Bits(run) {
    std::fill_n(C.SymbolFreq.begin(), kSymbolCount, uint16_t{0});
    C.PendingItems[0] = 0;
  }

  void QueueItem(int s, unsigned o);
  // Sends the last block and the last bits.
  void Finish() {
    SendBlock();
    Bits.FlushBits();  // completes a partly filled last byte with zero bits
  }

 private:
  void Lh5PutCode(int n, unsigned x);
  void Lh5PutBits(int n, unsigned v) { Lh5PutCode(n, (v << (16 - n)) & 0xFFFF); }
  void SendBlock();
  void CountLengthCodeFreq();
  int SymbolLengthsUsed() const;
  template <class Emit>
  void WalkSymbolLengths(Emit emit) const;
  void WriteSmallLengths(int count, int width, int skip);
  void SendSmallCode(int count, uint16_t* counts, int width, int skip);
  void WriteSymbolLengths();
  void PutLengthSymbol(int y) { Lh5PutCode(S.SmallLengths[y], C.SmallCodes[y]); }
  void PutSymbol(int s) { Lh5PutCode(S.SymbolLengths[s], C.SymbolCodes[s]); }
  void PutOffset(unsigned o);

  TLh5Storage& S;
  TLh5CompressArrays& C;
  std::array<uint16_t, kOffsetFreqSize> OffsetFreq{};
  std::array<uint16_t, kLengthCodeFreqSize> LengthCodeFreq{};
  TLh5Huffman Huffman;
  TBitWriter Bits;
  unsigned PendingFill = 0;
  unsigned FlagMask = 0;
  unsigned FlagBytePos = 0;
};

// ---- Bit writer: bytes fill from bit 7 down; a byte goes out the moment it is full.

void TLh5BlockCoder::Lh5PutCode(int n, unsigned x) {
  Bits.WriteBits(static_cast<unsigned>(n), x >> (16 - n));
}

// ---- Block writing.

int TLh5BlockCoder::SymbolLengthsUsed() const {
  int m = kSymbolCount;
  while (m > 0 && S.SymbolLengths[m - 1] == 0) --m;
  return m;
}

// The literal/length code lengths as the code-length code sends them: each non-zero length as
// one symbol, each run of zeros in its shortest form. emit(symbol, bits, value) is told every
// symbol with the extra field that follows it (bits 0: none).
template <class Emit>
void TLh5BlockCoder::WalkSymbolLengths(Emit emit) const {
  const int m = SymbolLengthsUsed();
  int i = 0;
  while (i < m) {
    const int k = S.SymbolLengths[i++];
    if (k != 0) {
      emit(k + kLengthSymbolBase, 0, 0);
      continue;
    }
    int z = 1;
    while (i < m && S.SymbolLengths[i] == 0) {
      ++i;
      ++z;
    }
    if (z < kZeroRunShortBase) {
      for (; z > 0; --z) emit(kZeroRunSymbol, 0, 0);
    } else if (z < kZeroRunAwkward) {
      emit(kZeroRunShortSymbol, kZeroRunShortBits, z - kZeroRunShortBase);
    } else if (z == kZeroRunAwkward) {
      // Nineteen zeros fit neither form: one alone, then the longest short run of 18.
      emit(kZeroRunSymbol, 0, 0);
      emit(kZeroRunShortSymbol, kZeroRunShortBits, kZeroRunAwkward - 1 - kZeroRunShortBase);
    } else {
      emit(kZeroRunLongSymbol, kZeroRunLongBits, z - kZeroRunLongBase);
    }
  }
}

void TLh5BlockCoder::CountLengthCodeFreq() {
  std::fill_n(LengthCodeFreq.begin(), kLengthCodeCount, uint16_t{0});
  WalkSymbolLengths([this](int symbol, int, int) { ++LengthCodeFreq[symbol]; });
}

void TLh5BlockCoder::WriteSymbolLengths() {
  Lh5PutBits(kSymbolCountBits, static_cast<unsigned>(SymbolLengthsUsed()));
  WalkSymbolLengths([this](int symbol, int bits, int value) {
    PutLengthSymbol(symbol);
    if (bits != 0) Lh5PutBits(bits, static_cast<unsigned>(value));
  });
}

void TLh5BlockCoder::WriteSmallLengths(int count, int width, int skip) {
  int m = count;
  while (m > 0 && S.SmallLengths[m - 1] == 0) --m;
  Lh5PutBits(width, static_cast<unsigned>(m));
  int i = 0;
  while (i < m) {
    const int k = S.SmallLengths[i++];
    if (k <= kLongestShortLength) {
      Lh5PutBits(kLengthFieldBits, static_cast<unsigned>(k));
    } else {
      Lh5PutBits(k - kLengthFieldBits, kUnaryOnes);
    }
    if (i == skip) {
      while (i < kSkipLimit && S.SmallLengths[i] == 0) ++i;
      Lh5PutBits(kSkipCountBits, static_cast<unsigned>(i - skip));
    }
  }
}

void TLh5BlockCoder::PutOffset(unsigned o) {
  const int k = std::bit_width(o);
  Lh5PutCode(S.SmallLengths[k], C.SmallCodes[k]);
  if (k > 1) Lh5PutBits(k - 1, o);
}

// Builds the code-length or offset code for counts and sends it: its lengths in the small form,
// or the single-symbol form when fewer than two symbols occur.
void TLh5BlockCoder::SendSmallCode(int count, uint16_t* counts, int width, int skip) {
  const int root =
      Huffman.BuildHuffmanCode(count, counts, S.SmallLengths.data(), C.SmallCodes.data());
  if (root >= count) {
    WriteSmallLengths(count, width, skip);
  } else {
    Lh5PutBits(width, 0);
    Lh5PutBits(width, static_cast<unsigned>(root));
  }
}

void TLh5BlockCoder::SendBlock() {
  const int root = Huffman.BuildHuffmanCode(kSymbolCount, C.SymbolFreq.data(),
                                            S.SymbolLengths.data(), C.SymbolCodes.data());
  const unsigned size = C.SymbolFreq[root];
  Lh5PutBits(kBlockSizeBits, size);
  if (root >= kSymbolCount) {
    CountLengthCodeFreq();
    SendSmallCode(kLengthCodeCount, LengthCodeFreq.data(), kLengthCodeCountBits,
                  kLengthCodeSkipIndex);
    WriteSymbolLengths();
  } else {
    Lh5PutBits(kLengthCodeCountBits, 0);
    Lh5PutBits(kLengthCodeCountBits, 0);
    Lh5PutBits(kSymbolCountBits, 0);
    Lh5PutBits(kSymbolCountBits, static_cast<unsigned>(root));
  }
  SendSmallCode(kOffsetSymbolCount, OffsetFreq.data(), kOffsetCountBits, kNoSkip);

  const uint8_t* item = C.PendingItems.data();
  unsigned flags = 0;
  for (unsigned i = 0; i < size; ++i) {
    flags = i % kItemsPerGroup == 0 ? *item++ : (flags << 1) & 0xFF;
    if ((flags & kFirstFlag) != 0) {
      PutSymbol(item[0] + kFirstLengthSymbol);
      PutOffset(static_cast<unsigned>(item[1] << 8 | item[2]));
      item += 3;
    } else {
      PutSymbol(*item++);
    }
  }
  std::fill_n(C.SymbolFreq.begin(), kSymbolCount, uint16_t{0});
  std::fill_n(OffsetFreq.begin(), kOffsetSymbolCount, uint16_t{0});
}

// Items wait in groups of eight behind a flag byte whose set bits mark three-byte matches.
void TLh5BlockCoder::QueueItem(int s, unsigned o) {
  FlagMask >>= 1;
  if (FlagMask == 0) {
    FlagMask = kFirstFlag;
    if (PendingFill >= kFlushThreshold) {
      SendBlock();
      PendingFill = 0;
    }
    FlagBytePos = PendingFill;
    C.PendingItems[PendingFill++] = 0;
  }
  C.PendingItems[PendingFill++] = static_cast<uint8_t>(s & 0xFF);
  ++C.SymbolFreq[s];
  if (s >= kFirstLengthSymbol) {
    C.PendingItems[FlagBytePos] = static_cast<uint8_t>(C.PendingItems[FlagBytePos] | FlagMask);
    C.PendingItems[PendingFill++] = static_cast<uint8_t>(o >> 8);
    C.PendingItems[PendingFill++] = static_cast<uint8_t>(o & 0xFF);
    ++OffsetFreq[std::bit_width(o)];
  }
}

// ---- The input of one finder: the run's source.

class TRunInput final : public TLh5Input {
 public:
  explicit TRunInput(TCodecRun& run) : Run(run) {}

  int Read(uint8_t* out, int n) override {
    int i = 0;
    while (i < n) {
      // Whole spans of what the run holds, then one byte at a time to refill it or find the end.
      const auto span =
          std::min<std::size_t>(Run.SourceBuffered(), static_cast<std::size_t>(n - i));
      if (span != 0) {
        Run.TakeSourceBytes(out + i, span);
        i += static_cast<int>(span);
        continue;
      }
      const uint8_t x = Run.GetSourceByte();
      if (Run.EndOfInput) break;
      out[i++] = x;
    }
    return i;
  }

  // Asks for a byte at every place, also after the end: a cancel ends only the chunk it came
  // with, and the next refill may bring more.
  int ReadFirst(uint8_t* out, int n) override {
    int got = 0;
    for (int i = 0; i < n; ++i) {
      const uint8_t x = Run.GetSourceByte();
      if (Run.EndOfInput) {
        out[i] = kSpace;
      } else {
        out[i] = x;
        ++got;
      }
    }
    return got;
  }

 private:
  TCodecRun& Run;
};

// The parse's one rule: a match found at one position is sent only if it is long enough and the
// next position finds no longer one.
constexpr bool SendsMatch(int length, int nextLength) {
  return length >= kMinMatch && length >= nextLength;
}

// Each form of the parse is a function of its own: inlined beside the other into the caller, the
// loop of one thread ran 4% more instructions.
template <class Emit>
[[gnu::noinline]] void ParseFrom(TLh5Finder& finder, Emit emit) {
  while (finder.Lookahead() > 0) {
    const int lastLength = finder.MatchLength();
    const unsigned lastOffset = finder.MatchOffset();
    finder.Lh5Advance();
    finder.CutMatchToInput();
    if (!SendsMatch(lastLength, finder.MatchLength())) {
      emit(finder.Window()[finder.Position() - 1], 0u);
    } else {
      emit(lastLength + kLengthBase, lastOffset);
      for (int k = 1; k < lastLength; ++k) finder.Lh5Advance();
      finder.CutMatchToInput();
    }
  }
}

// The parse over matches found a round of segments at a time on several threads; the last part
// of the input, where a match may be cut to the input left, is found and parsed as on one.
template <class Emit>
void ParseInSegments(TLh5Finder& finder, TLh5Input& source, unsigned threads,
                     const TLh5SegmentPlan& plan, Emit emit) {
  TLh5Segments segments(finder, source, threads, plan);
  int64_t at = 0;  // the position whose match waits for the next one's
  while (segments.NextRound()) {
    while (at + 1 < segments.End()) {
      const TLh5Match last = segments.MatchAt(at);
      if (!SendsMatch(last.Length, segments.MatchAt(at + 1).Length)) {
        emit(segments.ByteAt(at), 0u);
        ++at;
      } else {
        emit(last.Length + kLengthBase, last.Offset);
        at += last.Length;
      }
    }
  }
  TLh5Finder& leader = segments.Leader();
  for (int64_t p = segments.LeaderPosition(); p < at; ++p) leader.Lh5Advance();
  leader.CutMatchToInput();
  ParseFrom(leader, emit);
}

}  // namespace

void CompressLh5(TCodecRun& run, const TLh5SegmentPlan& plan) {
  const TLh5StorageHold hold = AcquireLh5Storage(true);
  TLh5Storage& storage = *hold;
  TRunInput input(run);
  TLh5Finder finder(storage, input);
  if (!finder.Start()) return;  // an empty input gives an empty stream
  // The coder's own storage, apart from the finder's, so that the two threads never share a
  // cache line.
  const auto coder = std::make_unique<TLh5BlockCoder>(run, storage);
  const auto emit = [&](int s, unsigned o) { coder->QueueItem(s, o); };
  if (run.Threads < 2) {
    ParseFrom(finder, emit);
  } else {
    // The calling thread parses and codes each round while the finders find the next.
    ParseInSegments(finder, input, run.Threads, plan, emit);
  }
  coder->Finish();
}

}  // namespace lh5

void CompressLh5(TCodecRun& run) {
  lh5::CompressLh5(run, lh5::TLh5SegmentPlan{});
}

}  // namespace vo
