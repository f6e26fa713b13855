#include <algorithm>
#include <cstring>
#include <memory>

#include "codec/common_length.h"
#include "codec/item_pipe.h"
#include "codec/lzh.h"
#include "codec/lzh_bits.h"

namespace vo {

namespace {

using namespace lzh;

// A tree position that stands for no node; its links absorb writes for absent children.
constexpr unsigned kTreeNil = kWindowSize;
// The roots of the trees hang from these slots, one per first byte and 4-bit hash of the next
// two bytes.
constexpr unsigned kRootSlotCount = 4096;
// The ring is followed by a copy of its first bytes, so any string can be read without wrapping,
// and by the bytes a word-wise comparison may read past the end of a string.
constexpr unsigned kWindowTail = kMaxMatch - 1;
constexpr unsigned kWindowPad = kCommonLengthPad;

constexpr unsigned RootSlot(uint8_t b0, uint8_t b1, uint8_t b2) {
  const unsigned x = b1 ^ b2;
  const unsigned h = x ^ (x >> 4);
  return b0 + 256 * (h & 15);
}

// The links of the match trees, in one array so that a node can name the link that holds it,
// wherever that is: each window position (and kTreeNil) has its three entries together, as a
// search step reads them together, then come the root slots and one entry nothing reads. No
// fourth entry pads a position to a scaled address: the 8 KB more it takes cost more misses of
// the first-level cache than the instructions it saves.
constexpr unsigned kLeft = 0;        // TreeLeft: the subtree of smaller strings
constexpr unsigned kRight = 1;       // TreeRight: the subtree of greater ones
constexpr unsigned kParentLink = 2;  // TreeParentLink: the link that holds the position
constexpr unsigned kNodeLinks = 3;
constexpr unsigned LinkOf(unsigned p, unsigned entry) {
  return kNodeLinks * p + entry;
}
constexpr unsigned kFirstRootLink = LinkOf(kTreeNil + 1, 0);
// The TreeParentLink of a position in no tree.
constexpr unsigned kNoLink = kFirstRootLink + kRootSlotCount;
constexpr unsigned kLinkCount = kNoLink + 1;
static_assert(kLinkCount - 1 <= UINT16_MAX, "a link index fits a link entry");
// Offsets are below 4096; a search keeps the complement of its best one in the low 16 bits.
constexpr unsigned kOffsetComplement = 0xFFFF;
constexpr std::size_t kCacheLineGap = 64;

// The coder: the adaptive model and the bit writer. With several threads it runs on a thread of
// its own, and touches none of the finder's state.
struct TLzhCoder {
  explicit TLzhCoder(TCodecRun& run) : Bits(run) { LzhModel.InitLzhModel(); }
  void Code(unsigned symbol, unsigned offset) {
    WriteLzhSymbol(LzhModel, Bits, symbol);
    if (symbol >= kLiteralCount) WriteMatchOffset(Bits, offset);
  }

  // Whatever lies next to the coder in memory, such as the finder, shares no cache line with the
  // fields it writes: no two bytes this far apart share a line.
  std::array<uint8_t, kCacheLineGap> GapBefore;
  TLzhModel LzhModel;
  TLzhBitWriter Bits;
  std::array<uint8_t, kCacheLineGap> GapAfter;
};

// The match finder and the parse: window and match trees.
class TLzhCompressor {
 public:
  explicit TLzhCompressor(TCodecRun& run) : Run(run) {}
  void Compress();

 private:
  // Reads the first bytes; false for an empty input.
  bool Start();
  // Parses the input into items, each told to emit(symbol, offset).
  template <class Emit>
  void Parse(Emit emit);

  // Only the last position a step advances over needs its match; the others skip the tally.
  template <bool kFindMatch>
  void TreeInsert(unsigned r);
  // Inserts r as TreeInsert<false> would, given a position c in a tree whose string shares at
  // least `known` (3 or more, so c is in r's tree) bytes with r's: the search starts from c
  // instead of the root, and ends where the search from the root would.
  void TreeInsertNear(unsigned r, unsigned c, unsigned known);
  // For the position after the last one inserted, inside a match: a position in a tree whose
  // string shares Known (3 or more) bytes with its string, or kTreeNil. `source` is the
  // position at the same distance into the match's source, which shares `shared` bytes.
  struct TNear {
    unsigned Position;
    unsigned Known;
  };
  TNear NearString(unsigned source, unsigned shared) const;
  // Lets r take the place of its twin (see TwinOf) when their strings are equal.
  template <bool kFindMatch>
  bool TakeTwinPlace(unsigned r);
  // Hangs r below parent on that side, prefix being the bytes their strings share.
  void Attach(unsigned r, unsigned parent, unsigned side, unsigned prefix);
  // Runs for every byte of the input: inlined into the parse.
  [[gnu::always_inline]] inline void TreeRemove(unsigned p);
  // MatchOffset keeps its value when no match is found.
  void SetMatch(unsigned length, unsigned offset) {
    MatchLength = length >= kMinMatch ? length : 0;
    if (length >= kMinMatch) MatchOffset = offset;
  }
  void SetBestMatch(unsigned best) {
    SetMatch(best >> 16, kOffsetComplement - (best & kOffsetComplement));
  }
  // Gives r, whose string equals p's over all 60 bytes, the place of p (the nearer copy wins).
  void TakePlace(unsigned p, unsigned r);
  // Makes q hold p's place in p's parent.
  void ReplaceInParent(unsigned p, unsigned q);

  uint16_t& Child(unsigned p, unsigned side) { return Links[LinkOf(p, side)]; }
  uint16_t& TreeLeft(unsigned p) { return Child(p, kLeft); }
  uint16_t& TreeRight(unsigned p) { return Child(p, kRight); }
  uint16_t& TreeParentLink(unsigned p) { return Links[LinkOf(p, kParentLink)]; }
  bool InTree(unsigned p) const { return Links[LinkOf(p, kParentLink)] != kNoLink; }
  // Makes r a leaf held by link.
  void SetLeaf(unsigned r, unsigned link) {
    Links[link] = static_cast<uint16_t>(r);
    // One store for the three entries.
    const std::array<uint16_t, 3> leaf{kTreeNil, kTreeNil, static_cast<uint16_t>(link)};
    std::memcpy(&Links[LinkOf(r, kLeft)], leaf.data(), sizeof leaf);
  }

  // Takes what the run holds of the input into InputBuffer, refilling the run first as
  // GetSourceByte would; false at the end of the input.
  bool TakeInput();

  TCodecRun& Run;
  // The input, a run's buffer at a time: the run is touched once per buffer, not once per byte,
  // so the coder's thread, which writes the run's sink, does not share its cache lines with this
  // one byte by byte.
  std::array<uint8_t, TCodecRun::kBufferSize> InputBuffer;
  const uint8_t* InputNext = nullptr;
  const uint8_t* InputEnd = nullptr;
  unsigned Lookahead = 0;
  std::array<uint8_t, kWindowSize + kWindowTail + kWindowPad> LzhWindow;
  std::array<uint16_t, kLinkCount> Links;
  // Each tree's strings in order: the neighbours of each position, the smaller (kLeft) and the
  // greater (kRight) one, kTreeNil at the ends. The last entry absorbs writes for absent ones.
  std::array<std::array<uint16_t, 2>, kWindowSize + 1> Order;
  // Where the last insertion attached its position, and the bytes the two strings share; 0
  // when it took another's place.
  unsigned Attached = kTreeNil;
  unsigned AttachedPrefix = 0;
  unsigned MatchLength = 0;
  unsigned MatchOffset = 0;
  // After r took the place of p, the only string the one at r + 1 can equal in all 60 bytes is
  // the one at p + 1, if that is still in a tree.
  unsigned TwinOf = kTreeNil;
  unsigned Twin = kTreeNil;
};

void TLzhCompressor::ReplaceInParent(unsigned p, unsigned q) {
  const unsigned link = TreeParentLink(p);
  Links[link] = static_cast<uint16_t>(q);
  TreeParentLink(q) = static_cast<uint16_t>(link);
  TreeParentLink(p) = kNoLink;
}

void TLzhCompressor::TakePlace(unsigned p, unsigned r) {
  TreeLeft(r) = TreeLeft(p);
  TreeRight(r) = TreeRight(p);
  TreeParentLink(TreeLeft(p)) = LinkOf(r, kLeft);
  TreeParentLink(TreeRight(p)) = LinkOf(r, kRight);
  ReplaceInParent(p, r);
  Order[r] = Order[p];
  Order[Order[p][kLeft]][kRight] = static_cast<uint16_t>(r);
  Order[Order[p][kRight]][kLeft] = static_cast<uint16_t>(r);
  AttachedPrefix = 0;
  // The strings at r + 1 and p + 1 agree in all but their last bytes.
  TwinOf = (r + 1) & kWindowMask;
  Twin = (p + 1) & kWindowMask;
}

TLzhCompressor::TNear TLzhCompressor::NearString(unsigned source, unsigned shared) const {
  // The string after the one the last insertion attached to shares one byte less with it. As
  // a neighbour of the last string, it is most often a neighbour of this one, so the search
  // from it is short; the match's source is the fallback.
  const unsigned next = (Attached + 1) & kWindowMask;
  if (AttachedPrefix > kMinMatch && InTree(next)) {
    return {next, AttachedPrefix - 1};
  }
  if (shared >= kMinMatch && InTree(source)) return {source, shared};
  return {kTreeNil, 0};
}

template <bool kFindMatch>
bool TLzhCompressor::TakeTwinPlace(unsigned r) {
  // In a run that repeats with a period, each string equals one already in a tree: the search
  // would end there, so the last byte is compared and r takes its place at once.
  if (r != TwinOf || !InTree(Twin) ||
      LzhWindow[r + kMaxMatch - 1] != LzhWindow[Twin + kMaxMatch - 1]) {
    TwinOf = kTreeNil;
    return false;
  }
  const unsigned twin = Twin;
  TakePlace(twin, r);
  if constexpr (kFindMatch) SetMatch(kMaxMatch, ((r - twin) & kWindowMask) - 1);
  return true;
}

template <bool kFindMatch>
void TLzhCompressor::TreeInsert(unsigned r) {
  if (TakeTwinPlace<kFindMatch>(r)) return;
  const uint8_t* const key = &LzhWindow[r];
  unsigned link = kFirstRootLink + RootSlot(key[0], key[1], key[2]);
  unsigned i = 1;  // bytes r's string shares with p's; one tree holds one first byte
  // Bytes r's string shares with the nearest smaller and greater strings passed so far; it
  // shares at least the fewer of the two with every string between them, so a comparison
  // starts there. Kept per search rather than per node, they leave a removal only links to move.
  unsigned below = 1;
  unsigned above = 1;
  // The best match so far as length << 16 | complement of the offset, so that one max keeps
  // the longer match and, of two as long, the nearer one. Shorter than kMinMatch is none.
  unsigned best = (kMinMatch - 1) << 16;
  while (Links[link] != kTreeNil) {
    const unsigned p = Links[link];
    const uint8_t* const node = &LzhWindow[p];
    i = static_cast<unsigned>(
        CommonLengthPadded(key, node, static_cast<int>(std::min(below, above)), kMaxMatch));
    const bool left = key[i] < node[i];
    (left ? above : below) = i;
    if constexpr (kFindMatch) {
      const unsigned o = ((r - p) & kWindowMask) - 1;
      best = std::max(best, i << 16 | (kOffsetComplement - o));
    }
    if (i == kMaxMatch) {
      TakePlace(p, r);
      if constexpr (kFindMatch) SetBestMatch(best);
      return;
    }
    link = LinkOf(p, left ? kLeft : kRight);
  }
  if (link >= kFirstRootLink) {
    // The first string of its tree.
    SetLeaf(r, link);
    Order[r] = {kTreeNil, kTreeNil};
    AttachedPrefix = 0;
  } else {
    Attach(r, link / kNodeLinks, link % kNodeLinks, i);
  }
  if constexpr (kFindMatch) SetBestMatch(best);
}

void TLzhCompressor::TreeInsertNear(unsigned r, unsigned c, unsigned known) {
  if (TakeTwinPlace<false>(r)) return;
  const uint8_t* const key = &LzhWindow[r];
  unsigned i = static_cast<unsigned>(
      CommonLengthPadded(key, &LzhWindow[c], static_cast<int>(known), kMaxMatch));
  if (i == kMaxMatch) {
    TakePlace(c, r);
    return;
  }
  // Walk the tree's order from c towards r's string until the next string lies beyond it. The
  // search from the root would end between the same two neighbours, at the one free link
  // there, or at an equal string, which can only be one of them.
  const unsigned side = key[i] < LzhWindow[c + i] ? kLeft : kRight;
  unsigned next = Order[c][side];
  unsigned j = 0;  // bytes r's string shares with next's
  while (next != kTreeNil) {
    const uint8_t* const node = &LzhWindow[next];
    // One tree holds one first byte.
    j = static_cast<unsigned>(CommonLengthPadded(key, node, 1, kMaxMatch));
    if (j == kMaxMatch) {
      TakePlace(next, r);
      return;
    }
    if ((key[j] < node[j] ? kLeft : kRight) != side) break;
    c = next;
    i = j;
    next = Order[c][side];
  }
  if (Child(c, side) == kTreeNil) {
    Attach(r, c, side, i);
  } else {
    Attach(r, next, side ^ 1, j);
  }
}

void TLzhCompressor::Attach(unsigned r, unsigned parent, unsigned side, unsigned prefix) {
  SetLeaf(r, LinkOf(parent, side));
  // r comes between parent and the string that followed it on that side.
  const unsigned beyond = Order[parent][side];
  Order[r][side] = static_cast<uint16_t>(beyond);
  Order[r][side ^ 1] = static_cast<uint16_t>(parent);
  Order[beyond][side ^ 1] = static_cast<uint16_t>(r);
  Order[parent][side] = static_cast<uint16_t>(r);
  Attached = parent;
  AttachedPrefix = prefix;
}

void TLzhCompressor::TreeRemove(unsigned p) {
  if (!InTree(p)) return;
  const auto [before, after] = Order[p];
  Order[before][kRight] = after;
  Order[after][kLeft] = before;
  unsigned q;
  if (TreeRight(p) == kTreeNil) {
    q = TreeLeft(p);
  } else if (TreeLeft(p) == kTreeNil) {
    q = TreeRight(p);
  } else {
    // The greatest node of p's left subtree, the string just before p's, moves up.
    q = before;
    if (q != TreeLeft(p)) {
      // Its left subtree takes its place.
      const unsigned above = TreeParentLink(q);
      const unsigned below = TreeLeft(q);
      Links[above] = static_cast<uint16_t>(below);
      TreeParentLink(below) = static_cast<uint16_t>(above);
      TreeLeft(q) = TreeLeft(p);
      TreeParentLink(TreeLeft(p)) = LinkOf(q, kLeft);
    }
    TreeRight(q) = TreeRight(p);
    TreeParentLink(TreeRight(p)) = LinkOf(q, kRight);
  }
  ReplaceInParent(p, q);
}

bool TLzhCompressor::TakeInput() {
  const uint8_t first = Run.GetSourceByte();
  if (Run.EndOfInput) return false;
  InputBuffer[0] = first;
  const std::size_t more = Run.SourceBuffered();
  Run.TakeSourceBytes(InputBuffer.data() + 1, more);
  InputNext = InputBuffer.data();
  InputEnd = InputNext + 1 + more;
  return true;
}

bool TLzhCompressor::Start() {
  Links.fill(kTreeNil);
  for (unsigned p = 0; p <= kTreeNil; ++p) TreeParentLink(p) = kNoLink;
  // The tail mirrors the spaces too, so strings near the end of the ring read as they would
  // after a wrap.
  LzhWindow.fill(kFillByte);
  while (Lookahead < kMaxMatch) {
    const uint8_t b = Run.GetSourceByte();
    if (Run.EndOfInput) break;
    LzhWindow[kStartPosition + Lookahead++] = b;
  }
  return Lookahead != 0;
}

// Each form of the parse is a function of its own, as in LH5 compression: 1% fewer instructions
// on one thread than both inlined into Compress.
template <class Emit>
[[gnu::noinline]] void TLzhCompressor::Parse(Emit emit) {
  unsigned lookahead = Lookahead;
  unsigned s = 0;
  unsigned r = kStartPosition;
  // The end of the space fill is offered as match source from the first byte on.
  for (unsigned t = 1; t <= kMaxMatch; ++t) TreeInsert<false>(kStartPosition - t);
  TreeInsert<true>(r);
  do {
    if (MatchLength > lookahead) MatchLength = lookahead;
    if (MatchLength < kMinMatch) {
      MatchLength = 1;
      emit(LzhWindow[r], 0);
    } else {
      emit(MatchSymbol(MatchLength), MatchOffset);
    }
    const unsigned n = MatchLength;
    // Within a match, the string at each position shares the rest of the match with the one
    // at the same distance into its source.
    const unsigned source = (r - MatchOffset - 1) & kWindowMask;
    unsigned i = 0;
    for (; i < n; ++i) {
      if (InputNext == InputEnd && !TakeInput()) break;
      const uint8_t b = *InputNext++;
      TreeRemove(s);
      LzhWindow[s] = b;
      if (s < kWindowTail) LzhWindow[s + kWindowSize] = b;
      s = (s + 1) & kWindowMask;
      r = (r + 1) & kWindowMask;
      if (i + 1 == n) {
        TreeInsert<true>(r);
      } else if (const TNear near = NearString((source + i + 1) & kWindowMask, n - (i + 1));
                 near.Position != kTreeNil) {
        TreeInsertNear(r, near.Position, near.Known);
      } else {
        TreeInsert<false>(r);
      }
    }
    for (; i < n; ++i) {
      TreeRemove(s);
      s = (s + 1) & kWindowMask;
      r = (r + 1) & kWindowMask;
      if (--lookahead == 0) continue;
      if (i + 1 < n) {
        TreeInsert<false>(r);
      } else {
        TreeInsert<true>(r);
      }
    }
  } while (lookahead != 0);
}

void TLzhCompressor::Compress() {
  if (!Start()) return;  // not even a flush for no input
  // The coder's own storage, apart from the finder's, so that the two threads never share a
  // cache line.
  const auto coder = std::make_unique<TLzhCoder>(Run);
  if (Run.Threads < 2) {
    Parse([&](unsigned symbol, unsigned offset) { coder->Code(symbol, offset); });
    coder->Bits.FlushBits();
    return;
  }
  TItemPipe pipe([&](TItemPipe& items) {
    for (TCodedItem item; items.Take(item);) coder->Code(item.Symbol, item.Offset);
    coder->Bits.FlushBits();
  });
  Parse([&](unsigned symbol, unsigned offset) {
    pipe.Put(static_cast<uint16_t>(symbol), static_cast<uint16_t>(offset));
  });
  pipe.Finish();
}

}  // namespace

void CompressLzh(TCodecRun& run) {
  const auto compressor = std::make_unique<TLzhCompressor>(run);
  compressor->Compress();
}

}  // namespace vo
