// LH5 compression: a suffix trie over the last 8192 positions finds matches, a one-step
// look-ahead parse picks literals or matches, and queued items go out in blocks with Huffman
// codes built for each block and limited to 16 bits.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>

#include "codec/bit_writer.h"
#include "codec/common_length.h"
#include "codec/item_pipe.h"
#include "codec/lh5.h"
#include "codec/lh5_huffman.h"
#include "codec/lh5_tables.h"

namespace vo {
namespace lh5 {
namespace {

constexpr int kFirstPosition = kWindowSize + kMaxMatch;  // 8448
constexpr int kTextEnd = 16640;
constexpr int kSlidePoint = 2 * kWindowSize;
constexpr int kSlideBytes = kTextEnd - kWindowSize;  // moved down at each slide
constexpr int kRootBase = kWindowSize;               // root(b) = 8192 + b; leaves are 8192..16383
constexpr int kRootCount = 256;
constexpr int kLastInnerNode = kWindowSize - 1;
constexpr uint16_t kPendingFlag = 0x8000;
constexpr uint16_t kPositionBits = 0x7FFF;
constexpr uint16_t kLeafBit = 0x2000;  // turns a slid-down position back into leaf-number form
constexpr unsigned kFlushThreshold = 16360;
constexpr unsigned kFirstFlag = 0x80;
constexpr int kItemsPerGroup = 8;
constexpr unsigned kUnaryOnes = 0xFFFE;
constexpr int kSkipLimit = 6;        // the skip field covers indexes 3..5
constexpr int kZeroRunAwkward = 19;  // one more than the short form reaches, one less than the long
constexpr int kOffsetFreqSize = 2 * kOffsetSymbolCount;
constexpr int kLengthCodeFreqSize = 2 * kLengthCodeCount;

// The block coder: queues the parse's items and sends them in blocks, each with the Huffman codes
// built for it. With several threads it runs on a thread of its own, and touches none of the
// finder's state.
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

// The match finder and the parse.
class TLh5Compressor {
 public:
  TLh5Compressor(TCodecRun& run, TLh5Storage& storage)
      : Run(run), S(storage), C(*storage.Compress), T(C.Trie.data()) {}

  void Compress();

 private:
  // Reads the first window; false for an empty input.
  bool Start();
  // Parses the input into items, each told to emit(symbol, offset).
  template <class Emit>
  void Parse(Emit emit);

  // Match finder.
  uint16_t& Link(uint32_t at);
  uint32_t LinkOf(const uint16_t& field) const;
  void TrieUnlink(int e);
  void TrieTakePlace(int old, int e);
  void TrieInit();
  int TrieFindChild(int q, int b);
  void TrieAddChild(int q, int b, int r);
  // A root keeps no position: a write meant for an inner node goes to entry 0 when the node is
  // a root, which spares a branch the predictor would often miss.
  static int IfInner(int q) { return q < kRootBase ? q : 0; }
  void TrieAddRootChild(int key, int r);
  void TrieCountChild(int q, int r);
  void TrieSplit(int old);
  void TrieInsert();
  void TrieRemove();
  void Lh5Advance();

  TCodecRun& Run;
  TLh5Storage& S;
  TLh5CompressArrays& C;
  TTrieEntry* const T;  // C.Trie

  int Lh5Position = 0;
  int Lh5MatchPosition = 0;
  int Lh5MatchLength = 0;
  int Lh5Lookahead = 0;
  int TrieFreeHead = 0;
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

// ---- Match finder.

// The children of a root are the most sought: they sit in RootChild, indexed by the first two
// bytes of their strings. The children of an inner node hang in hash chains (TrieSlot).
//
// Every entry in the trie is held by one link: a RootChild slot, a chain head or the Next of
// the entry before it in its chain. Its Prev is where that link lies, as a byte offset in the
// arrays, so that unlinking or replacing an entry takes no branch on the kind of link. A root's
// child is a chain of one: its Next is 0.
//
// Entry 0 stands for no node and takes writes meant for none: the Prev of the entry after the
// last of a chain, the position pending for a root, and the parent a lookup seeks, which ends
// every chain walk there.

// The link field at a byte offset in the arrays.
uint16_t& TLh5Compressor::Link(uint32_t at) {
  return *reinterpret_cast<uint16_t*>(reinterpret_cast<std::byte*>(&C) + at);
}

uint32_t TLh5Compressor::LinkOf(const uint16_t& field) const {
  return static_cast<uint32_t>(reinterpret_cast<const std::byte*>(&field) -
                               reinterpret_cast<const std::byte*>(&C));
}

void TLh5Compressor::TrieUnlink(int e) {
  Link(T[e].Prev) = T[e].Next;
  T[T[e].Next].Prev = T[e].Prev;
}

// e takes old's place under old's parent, and in its chain: same parent and byte, so the same
// key.
void TLh5Compressor::TrieTakePlace(int old, int e) {
  T[e].Parent = T[old].Parent;
  T[T[old].Parent].ChildXor ^= static_cast<uint16_t>(old ^ e);
  const uint32_t prev = T[old].Prev;
  T[e].Prev = prev;
  Link(prev) = static_cast<uint16_t>(e);
  const int next = T[old].Next;
  T[e].Next = static_cast<uint16_t>(next);
  T[next].Prev = LinkOf(T[e].Next);
}

void TLh5Compressor::TrieInit() {
  std::fill(C.Trie.begin(), C.Trie.end(), TTrieEntry{});
  for (int r = kRootBase; r < kRootBase + kRootCount; ++r) T[r].Level = 1;
  TrieFreeHead = 1;
  for (int i = 1; i < kLastInnerNode; ++i) T[i].Next = static_cast<uint16_t>(i + 1);
  T[kLastInnerNode].Next = 0;
  C.TrieHead.fill(0);
  C.RootChild.fill(0);
}

// For a child of an inner node.
int TLh5Compressor::TrieFindChild(int q, int b) {
  T[0].Parent = static_cast<uint16_t>(q);  // stops the walk at the chain's end
  int r = C.TrieHead[TrieSlot(q, b)];
  while (T[r].Parent != q) r = T[r].Next;
  return r;
}

void TLh5Compressor::TrieCountChild(int q, int r) {
  ++T[q].ChildCount;
  T[q].ChildXor ^= static_cast<uint16_t>(r);
}

void TLh5Compressor::TrieAddRootChild(int key, int r) {
  C.RootChild[key] = static_cast<uint16_t>(r);
  const int q = kRootBase + (key >> 8);
  T[r].Next = 0;
  T[r].Prev = LinkOf(C.RootChild[key]);
  T[r].Parent = static_cast<uint16_t>(q);
  TrieCountChild(q, r);
}

// Under an inner node.
void TLh5Compressor::TrieAddChild(int q, int b, int r) {
  const int h = TrieSlot(q, b);
  const int t = C.TrieHead[h];
  C.TrieHead[h] = static_cast<uint16_t>(r);
  T[r].Next = static_cast<uint16_t>(t);
  T[t].Prev = LinkOf(T[r].Next);
  T[r].Prev = LinkOf(C.TrieHead[h]);
  T[r].Parent = static_cast<uint16_t>(q);
  TrieCountChild(q, r);
}

[[gnu::always_inline]] inline void TLh5Compressor::TrieSplit(int old) {
  const int added = TrieFreeHead;
  TrieFreeHead = T[added].Next;
  T[added].ChildCount = 0;
  T[added].ChildXor = 0;
  TrieTakePlace(old, added);
  T[added].Level = static_cast<uint8_t>(Lh5MatchLength);
  T[added].Position = static_cast<uint16_t>(Lh5Position);
  TrieAddChild(added, S.Lh5Window[Lh5MatchPosition + Lh5MatchLength], old);
  TrieAddChild(added, S.Lh5Window[Lh5Position + Lh5MatchLength], Lh5Position);
}

[[gnu::always_inline]] inline void TLh5Compressor::TrieInsert() {
  const int p = Lh5Position;
  const uint8_t* text = S.Lh5Window.data();
  int q = 0;
  int r = 0;
  if (Lh5MatchLength >= 4) {
    // The string at p shares at least one byte less with the one after the previous match's
    // source: start from that leaf and climb instead of descending from the root.
    --Lh5MatchLength;
    r = (Lh5MatchPosition + 1) | kRootBase;
    while (T[r].Parent == 0) r = T[r].Next;  // a replaced leaf leads to its successor
    q = T[r].Parent;
    while (T[q].Level >= Lh5MatchLength) {
      r = q;
      q = T[q].Parent;
    }
    int t = q;
    while ((T[t].Position & kPendingFlag) != 0) {
      T[t].Position = static_cast<uint16_t>(p);
      t = T[t].Parent;
    }
    T[IfInner(t)].Position = static_cast<uint16_t>(p | kPendingFlag);
  } else {
    const int key = text[p] << 8 | text[p + 1];
    q = kRootBase + text[p];
    r = C.RootChild[key];
    if (r == 0) {
      TrieAddRootChild(key, p);
      Lh5MatchLength = 1;
      return;
    }
    Lh5MatchLength = 2;
  }
  for (;;) {
    int limit = kMaxMatch;
    if (r >= kRootBase) {
      Lh5MatchPosition = r;
    } else {
      limit = T[r].Level;
      Lh5MatchPosition = T[r].Position & kPositionBits;
    }
    if (Lh5MatchPosition >= p) Lh5MatchPosition -= kWindowSize;
    Lh5MatchLength = CommonLength(text + p, text + Lh5MatchPosition, Lh5MatchLength, limit);
    if (Lh5MatchLength < limit) {
      TrieSplit(r);
      return;
    }
    if (Lh5MatchLength == kMaxMatch) break;
    T[r].Position = static_cast<uint16_t>(p);
    q = r;
    const int b = text[p + Lh5MatchLength];
    r = TrieFindChild(q, b);
    if (r == 0) {
      TrieAddChild(q, b, p);
      return;
    }
    ++Lh5MatchLength;
  }
  // The leaf r matches all 256 bytes: p takes its place.
  TrieTakePlace(r, p);
  T[r].Parent = 0;
  T[r].Next = static_cast<uint16_t>(p);
}

void TLh5Compressor::TrieRemove() {
  const int p = Lh5Position;
  if (T[p].Parent == 0) return;
  TrieUnlink(p);
  const int r = T[p].Parent;
  T[p].Parent = 0;
  --T[r].ChildCount;
  T[r].ChildXor ^= static_cast<uint16_t>(p);
  if (r >= kRootBase || T[r].ChildCount > 1) return;

  // r is left with one child and goes; its position passes up first.
  const auto unslid = [p](int position) {
    return position >= p ? position - kWindowSize : position;
  };
  int s = unslid(T[r].Position & kPositionBits);
  int q = T[r].Parent;
  while ((T[q].Position & kPendingFlag) != 0) {
    s = std::max(s, unslid(T[q].Position & kPositionBits));
    T[q].Position = static_cast<uint16_t>(s | kLeafBit);
    q = T[q].Parent;
  }
  s = std::max(s, unslid(T[q].Position));
  T[IfInner(q)].Position = static_cast<uint16_t>(s | kLeafBit | kPendingFlag);
  s = T[r].ChildXor;
  TrieUnlink(s);
  TrieTakePlace(r, s);
  T[r].Parent = 0;
  T[r].Next = static_cast<uint16_t>(TrieFreeHead);
  TrieFreeHead = r;
}

// The step of each position. It is inlined into the main loop, and the insertion and split
// into it: at millions of calls, the calls cost more than the larger code.
[[gnu::always_inline]] inline void TLh5Compressor::Lh5Advance() {
  --Lh5Lookahead;
  if (++Lh5Position == kSlidePoint) {
    uint8_t* text = S.Lh5Window.data();
    std::memmove(text, text + kWindowSize, kSlideBytes);
    int i = kFirstPosition;
    while (i < kTextEnd) {
      // Whole spans of what the run holds, then one byte at a time to refill it or find the end.
      const auto span = std::min<std::size_t>(Run.SourceBuffered(), kTextEnd - i);
      if (span != 0) {
        Run.TakeSourceBytes(text + i, span);
        i += static_cast<int>(span);
        continue;
      }
      text[i] = Run.GetSourceByte();
      if (Run.EndOfInput) break;  // that byte does not count
      ++i;
    }
    Lh5Lookahead += i - kFirstPosition;
    Lh5Position = kWindowSize;
  }
  TrieRemove();
  TrieInsert();
}

bool TLh5Compressor::Start() {
  TrieInit();
  Lh5Position = kFirstPosition;
  Lh5Lookahead = 0;
  for (int i = kFirstPosition; i < kTextEnd; ++i) {
    const uint8_t x = Run.GetSourceByte();
    if (Run.EndOfInput) {
      S.Lh5Window[i] = kSpace;
    } else {
      S.Lh5Window[i] = x;
      ++Lh5Lookahead;
    }
  }
  return Lh5Lookahead != 0;
}

// Each form of the parse is a function of its own: inlined beside the other into Compress, the
// loop of one thread ran 4% more instructions.
template <class Emit>
[[gnu::noinline]] void TLh5Compressor::Parse(Emit emit) {
  Lh5MatchPosition = 0;
  Lh5MatchLength = 0;
  TrieInsert();
  while (Lh5Lookahead > 0) {
    // A match found at one position is sent only if the next position finds no longer one.
    const int lastLength = Lh5MatchLength;
    const int lastPosition = Lh5MatchPosition;
    Lh5Advance();
    Lh5MatchLength = std::min(Lh5MatchLength, Lh5Lookahead);
    if (lastLength < Lh5MatchLength || lastLength < kMinMatch) {
      emit(S.Lh5Window[Lh5Position - 1], 0);
    } else {
      // The match belongs to the position just passed; the offset is its distance minus one.
      emit(lastLength + kLengthBase,
           static_cast<unsigned>(Lh5Position - lastPosition - 2) & kWindowMask);
      for (int k = 1; k < lastLength; ++k) Lh5Advance();
      Lh5MatchLength = std::min(Lh5MatchLength, Lh5Lookahead);
    }
  }
}

void TLh5Compressor::Compress() {
  if (!Start()) return;  // an empty input gives an empty stream
  // The coder's own storage, apart from the finder's, so that the two threads never share a
  // cache line.
  const auto coder = std::make_unique<TLh5BlockCoder>(Run, S);
  if (Run.Threads < 2) {
    Parse([&](int s, unsigned o) { coder->QueueItem(s, o); });
    coder->Finish();
    return;
  }
  TItemPipe pipe([&](TItemPipe& items) {
    for (TCodedItem item; items.Take(item);) coder->QueueItem(item.Symbol, item.Offset);
    coder->Finish();
  });
  Parse([&](int s, unsigned o) { pipe.Put(static_cast<uint16_t>(s), static_cast<uint16_t>(o)); });
  pipe.Finish();
}

}  // namespace
}  // namespace lh5

void CompressLh5(TCodecRun& run) {
  const lh5::TLh5StorageHold storage = lh5::AcquireLh5Storage(true);
  lh5::TLh5Compressor(run, *storage).Compress();
}

}  // namespace vo
