#include <algorithm>
#include <memory>

#include "codec/common_length.h"
#include "codec/lzh.h"
#include "codec/lzh_bits.h"

namespace vo {

namespace {

using namespace lzh;

// A tree position that stands for no node; its TreeParent entry absorbs writes for absent
// children.
constexpr unsigned kTreeNil = kWindowSize;
// The roots of the trees hang from the right links of these slots, one per first byte and
// 4-bit hash of the next two bytes.
constexpr unsigned kFirstRootSlot = kTreeNil + 1;
constexpr unsigned kRootSlotCount = 4096;
// The ring is followed by a copy of its first bytes, so any string can be read without wrapping.
constexpr unsigned kWindowTail = kMaxMatch - 1;

constexpr unsigned RootSlot(uint8_t b0, uint8_t b1, uint8_t b2) {
  const unsigned x = b1 ^ b2;
  const unsigned h = x ^ (x >> 4);
  return kFirstRootSlot + b0 + 256 * (h & 15);
}
constexpr bool IsRootSlot(unsigned node) {
  return node >= kFirstRootSlot;
}

// The working storage of one compression: window, match trees, model and bit writer.
class TLzhCompressor {
 public:
  explicit TLzhCompressor(TCodecRun& run) : Run(run), Bits(run) {}
  void Compress();

 private:
  void TreeInsert(unsigned r);
  void TreeRemove(unsigned p);
  void InheritPrefix(unsigned y, unsigned x, unsigned a);
  void MeasurePrefix(unsigned y, unsigned a, unsigned j);
  // Makes q hold p's place in p's parent.
  void ReplaceInParent(unsigned p, unsigned q);

  TCodecRun& Run;
  TLzhBitWriter Bits;
  TLzhModel LzhModel;
  std::array<uint8_t, kWindowSize + kWindowTail> LzhWindow;
  std::array<uint16_t, kWindowSize> TreeLeft;
  std::array<uint16_t, kFirstRootSlot + kRootSlotCount> TreeRight;
  std::array<uint16_t, kWindowSize + 1> TreeParent;
  std::array<uint8_t, kWindowSize> TreePrefix;
  unsigned MatchLength = 0;
  unsigned MatchOffset = 0;
};

void TLzhCompressor::ReplaceInParent(unsigned p, unsigned q) {
  const unsigned parent = TreeParent[p];
  TreeParent[q] = static_cast<uint16_t>(parent);
  if (TreeRight[parent] == p) {
    TreeRight[parent] = static_cast<uint16_t>(q);
  } else {
    TreeLeft[parent] = static_cast<uint16_t>(q);
  }
  TreeParent[p] = kTreeNil;
}

void TLzhCompressor::TreeInsert(unsigned r) {
  TreeLeft[r] = TreeRight[r] = kTreeNil;
  MatchLength = 0;
  const uint8_t* const key = &LzhWindow[r];
  unsigned p = RootSlot(key[0], key[1], key[2]);
  unsigned i = 1;  // bytes known to agree: one tree holds one first byte
  bool left = false;
  for (;;) {
    uint16_t& link = left ? TreeLeft[p] : TreeRight[p];
    if (link == kTreeNil) {
      link = static_cast<uint16_t>(r);
      TreeParent[r] = static_cast<uint16_t>(p);
      TreePrefix[r] = static_cast<uint8_t>(i);
      return;
    }
    p = link;
    // What p shares with its parent tells how much of it the string at r shares.
    const uint8_t* const node = &LzhWindow[p];
    const unsigned k = TreePrefix[p];
    if (k < i) {
      i = k;
      left = key[k] < node[k];
    } else if (k == i) {
      i = static_cast<unsigned>(CommonLength(key, node, static_cast<int>(i), kMaxMatch));
      if (i < kMaxMatch) left = key[i] < node[i];
    }
    if (i < kMinMatch) continue;
    const unsigned o = ((r - p) & kWindowMask) - 1;
    if (i > MatchLength) {
      MatchOffset = o;
      MatchLength = i;
      if (i >= kMaxMatch) break;
    } else if (i == MatchLength && o < MatchOffset) {
      MatchOffset = o;  // the nearest of equally long matches on the path
    }
  }
  // The string at r equals the one at p over all 60 bytes: r takes p's place, the nearer copy.
  TreePrefix[r] = TreePrefix[p];
  TreeLeft[r] = TreeLeft[p];
  TreeRight[r] = TreeRight[p];
  TreeParent[TreeLeft[p]] = static_cast<uint16_t>(r);
  TreeParent[TreeRight[p]] = static_cast<uint16_t>(r);
  ReplaceInParent(p, r);
}

void TLzhCompressor::TreeRemove(unsigned p) {
  if (TreeParent[p] == kTreeNil) return;
  unsigned q;
  if (TreeRight[p] == kTreeNil) {
    q = TreeLeft[p];
    if (q != kTreeNil) InheritPrefix(q, p, TreeParent[p]);
  } else if (TreeLeft[p] == kTreeNil) {
    q = TreeRight[p];
    InheritPrefix(q, p, TreeParent[p]);
  } else {
    q = TreeLeft[p];
    if (TreeRight[q] != kTreeNil) {
      // The greatest node of p's left subtree moves up; its left subtree takes its place.
      while (TreeRight[q] != kTreeNil) q = TreeRight[q];
      if (TreeLeft[q] != kTreeNil) InheritPrefix(TreeLeft[q], q, TreeParent[q]);
      MeasurePrefix(TreeLeft[p], q, 1);
      TreeRight[TreeParent[q]] = TreeLeft[q];
      TreeParent[TreeLeft[q]] = TreeParent[q];
      TreeLeft[q] = TreeLeft[p];
      TreeParent[TreeLeft[p]] = static_cast<uint16_t>(q);
    }
    MeasurePrefix(q, TreeParent[p], 1);
    MeasurePrefix(TreeRight[p], q, 1);
    TreeRight[q] = TreeRight[p];
    TreeParent[TreeRight[p]] = static_cast<uint16_t>(q);
  }
  ReplaceInParent(p, q);
}

void TLzhCompressor::InheritPrefix(unsigned y, unsigned x, unsigned a) {
  if (TreePrefix[x] < TreePrefix[y]) {
    TreePrefix[y] = TreePrefix[x];
  } else if (TreePrefix[x] == TreePrefix[y]) {
    MeasurePrefix(y, a, TreePrefix[x]);
  }
}

void TLzhCompressor::MeasurePrefix(unsigned y, unsigned a, unsigned j) {
  if (IsRootSlot(a)) {
    TreePrefix[y] = 1;
    return;
  }
  TreePrefix[y] = static_cast<uint8_t>(
      CommonLength(&LzhWindow[a], &LzhWindow[y], static_cast<int>(j), kMaxMatch));
}

void TLzhCompressor::Compress() {
  LzhModel.InitLzhModel();
  std::fill(TreeRight.begin() + kFirstRootSlot, TreeRight.end(), kTreeNil);
  std::fill(TreeParent.begin(), TreeParent.begin() + kWindowSize, kTreeNil);
  // The tail mirrors the spaces too, so strings near the end of the ring read as they would
  // after a wrap.
  LzhWindow.fill(kFillByte);

  unsigned lookahead = 0;
  while (lookahead < kMaxMatch) {
    const uint8_t b = Run.GetSourceByte();
    if (Run.EndOfInput) break;
    LzhWindow[kStartPosition + lookahead++] = b;
  }
  if (lookahead == 0) return;  // not even a flush for no input

  unsigned s = 0;
  unsigned r = kStartPosition;
  // The end of the space fill is offered as match source from the first byte on.
  for (unsigned t = 1; t <= kMaxMatch; ++t) TreeInsert(kStartPosition - t);
  TreeInsert(r);
  do {
    if (MatchLength > lookahead) MatchLength = lookahead;
    if (MatchLength < kMinMatch) {
      MatchLength = 1;
      WriteLzhSymbol(LzhModel, Bits, LzhWindow[r]);
    } else {
      WriteLzhSymbol(LzhModel, Bits, MatchSymbol(MatchLength));
      WriteMatchOffset(Bits, MatchOffset);
    }
    const unsigned n = MatchLength;
    unsigned i = 0;
    for (; i < n; ++i) {
      const uint8_t b = Run.GetSourceByte();
      if (Run.EndOfInput) break;
      TreeRemove(s);
      LzhWindow[s] = b;
      if (s < kWindowTail) LzhWindow[s + kWindowSize] = b;
      s = (s + 1) & kWindowMask;
      r = (r + 1) & kWindowMask;
      TreeInsert(r);
    }
    for (; i < n; ++i) {
      TreeRemove(s);
      s = (s + 1) & kWindowMask;
      r = (r + 1) & kWindowMask;
      if (--lookahead > 0) TreeInsert(r);
    }
  } while (lookahead != 0);
  Bits.FlushBits();
}

}  // namespace

void CompressLzh(TCodecRun& run) {
  const auto compressor = std::make_unique<TLzhCompressor>(run);
  compressor->Compress();
}

}  // namespace vo
