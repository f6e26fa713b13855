#include "tests/support/lzh_reference.h"

#include <stdexcept>
#include <string>

#include "codec/lzh_model.h"

namespace vo::test {

namespace {

using lzh::kFillByte;
using lzh::kLeafBase;
using lzh::kMaxMatch;
using lzh::kMinMatch;
using lzh::kRoot;
using lzh::kStartPosition;
using lzh::kWindowMask;
using lzh::kWindowSize;

constexpr unsigned kTreeNil = 4096;
constexpr unsigned kFirstRootSlot = 4097;
constexpr unsigned kLastRootSlot = 8192;
// The ring is followed by a copy of its first 59 bytes, so a 60-byte string at any position
// reads without wrapping.
constexpr unsigned kWindowTail = kMaxMatch - 1;

unsigned RootSlot(unsigned b0, unsigned b1, unsigned b2) {
  const unsigned x = b1 ^ b2;
  const unsigned h = x ^ (x >> 4);
  return kFirstRootSlot + b0 + 256 * (h & 15);
}

bool IsRootSlot(unsigned node) {
  return node >= kFirstRootSlot;
}

// One compression. The tables are vectors so that the address sanitizer sees an index past
// their end.
class TReferenceLzh {
 public:
  TReferenceLzh(const std::vector<uint8_t>& input, unsigned checkEvery)
      : Input(input), CheckEvery(checkEvery) {}

  std::vector<uint8_t> CompressLzh();

 private:
  uint8_t GetSourceByte();
  void PutSinkByte(unsigned b) { Output.push_back(static_cast<uint8_t>(b)); }

  void WriteBitField(unsigned n, unsigned v);
  void FlushBits();
  void WriteLzhSymbol(unsigned s);
  void WriteMatchOffset(unsigned o);

  void TreeInsert(unsigned r);
  void TreeRemove(unsigned p);
  // q takes p's place below p's parent (the link that held p now holds q), and p leaves.
  void ReplaceInParent(unsigned p, unsigned q);
  void InheritPrefix(unsigned y, unsigned x, unsigned a);
  void MeasurePrefix(unsigned y, unsigned a, unsigned j);

  // The bytes the 60-byte strings at a and b share from their start.
  unsigned CommonPrefix(unsigned a, unsigned b) const;
  // True when the string at a sorts before the one at b.
  bool Less(unsigned a, unsigned b) const;
  void Check(unsigned step, unsigned r, unsigned s) const;
  // Walks the tree below node in order; last is the previous position met (kTreeNil at first).
  void CheckSubtree(unsigned node, unsigned slot, unsigned& last, unsigned& count,
                    unsigned step) const;
  [[noreturn]] static void Fail(unsigned step, const std::string& what);

  const std::vector<uint8_t>& Input;
  std::size_t InputPos = 0;
  bool EndOfInput = false;
  std::vector<uint8_t> Output;
  const unsigned CheckEvery;

  lzh::TLzhModel LzhModel;
  uint16_t OutBits = 0;
  uint8_t OutBitCount = 0;

  std::vector<uint8_t> LzhWindow = std::vector<uint8_t>(kWindowSize + kWindowTail);
  std::vector<uint16_t> TreeLeft = std::vector<uint16_t>(4096);
  std::vector<uint16_t> TreeRight = std::vector<uint16_t>(8193);
  std::vector<uint16_t> TreeParent = std::vector<uint16_t>(4097);
  std::vector<uint8_t> TreePrefix = std::vector<uint8_t>(4096);

  unsigned LookaheadCount = 0;
  uint16_t MatchLength = 0;
  uint16_t MatchOffset = 0;
};

uint8_t TReferenceLzh::GetSourceByte() {
  if (InputPos == Input.size()) {
    EndOfInput = true;
    return 0;
  }
  return Input[InputPos++];
}

void TReferenceLzh::WriteBitField(unsigned n, unsigned v) {
  const unsigned w = OutBitCount;
  OutBits = static_cast<uint16_t>(OutBits | (v >> w));
  const unsigned t = w + n;
  if (t < 8) {
    OutBitCount = static_cast<uint8_t>(t);
    return;
  }
  PutSinkByte(OutBits >> 8);
  if (t - 8 < 8) {
    OutBits = static_cast<uint16_t>(OutBits << 8);
    OutBitCount = static_cast<uint8_t>(t - 8);
  } else {
    PutSinkByte(OutBits & 0xFF);
    OutBitCount = static_cast<uint8_t>(t - 16);
    OutBits = static_cast<uint16_t>(v << (16 - w));
  }
}

void TReferenceLzh::FlushBits() {
  if (OutBitCount > 0) PutSinkByte(OutBits >> 8);
}

void TReferenceLzh::WriteLzhSymbol(unsigned s) {
  unsigned p = LzhModel.NodeParent[kLeafBase + s];
  uint32_t code = 0;
  unsigned len = 0;
  do {
    code = (code >> 1) | ((p & 1u) << 31);
    ++len;
    p = LzhModel.NodeParent[p];
  } while (p != kRoot);
  if (len <= 16) {
    WriteBitField(len, code >> 16);
  } else {
    WriteBitField(16, code >> 16);
    WriteBitField(len - 16, code & 0xFFFF);
  }
  LzhModel.UpdateLzhModel(s);
}

void TReferenceLzh::WriteMatchOffset(unsigned o) {
  const lzh::TOffsetCode code = lzh::OffsetCodeTable[o >> 6];
  WriteBitField(code.Length, static_cast<unsigned>(code.Code) << 8);
  WriteBitField(6, (o & 63) << 10);
}

void TReferenceLzh::TreeInsert(unsigned r) {
  TreeLeft[r] = TreeRight[r] = kTreeNil;
  MatchLength = 0;
  unsigned p = RootSlot(LzhWindow[r], LzhWindow[r + 1], LzhWindow[r + 2]);
  unsigned i = 1;  // the first byte is known to be equal
  bool left = false;
  for (;;) {
    const unsigned d = left ? TreeLeft[p] : TreeRight[p];
    if (d == kTreeNil) {
      if (left) {
        TreeLeft[p] = static_cast<uint16_t>(r);
      } else {
        TreeRight[p] = static_cast<uint16_t>(r);
      }
      TreeParent[r] = static_cast<uint16_t>(p);
      TreePrefix[r] = static_cast<uint8_t>(i);
      return;
    }
    p = d;

    const unsigned k = TreePrefix[p];
    if (k < i) {
      i = k;
      left = LzhWindow[r + k] < LzhWindow[p + k];
    } else if (k == i) {
      while (i < kMaxMatch) {
        if (LzhWindow[r + i] != LzhWindow[p + i]) {
          left = LzhWindow[r + i] < LzhWindow[p + i];
          break;
        }
        ++i;
      }
    }  // k > i: the strings share exactly i bytes and go on the same way

    if (i >= kMinMatch) {
      const unsigned o = ((r - p) & kWindowMask) - 1;
      if (i > MatchLength) {
        MatchOffset = static_cast<uint16_t>(o);
        MatchLength = static_cast<uint16_t>(i);
        if (i >= kMaxMatch) break;
      } else if (i == MatchLength && o < MatchOffset) {
        MatchOffset = static_cast<uint16_t>(o);
      }
    }
  }
  // The string at r equals the one at p in all 60 bytes: r takes p's place.
  TreePrefix[r] = TreePrefix[p];
  TreeLeft[r] = TreeLeft[p];
  TreeRight[r] = TreeRight[p];
  TreeParent[TreeLeft[p]] = static_cast<uint16_t>(r);
  TreeParent[TreeRight[p]] = static_cast<uint16_t>(r);
  ReplaceInParent(p, r);
}

void TReferenceLzh::TreeRemove(unsigned p) {
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

void TReferenceLzh::ReplaceInParent(unsigned p, unsigned q) {
  TreeParent[q] = TreeParent[p];
  const unsigned parent = TreeParent[p];
  if (TreeRight[parent] == p) {
    TreeRight[parent] = static_cast<uint16_t>(q);
  } else {
    TreeLeft[parent] = static_cast<uint16_t>(q);
  }
  TreeParent[p] = kTreeNil;
}

void TReferenceLzh::InheritPrefix(unsigned y, unsigned x, unsigned a) {
  if (TreePrefix[x] < TreePrefix[y]) {
    TreePrefix[y] = TreePrefix[x];
  } else if (TreePrefix[x] == TreePrefix[y]) {
    MeasurePrefix(y, a, TreePrefix[x]);
  }
}

void TReferenceLzh::MeasurePrefix(unsigned y, unsigned a, unsigned j) {
  if (IsRootSlot(a)) {
    TreePrefix[y] = 1;
    return;
  }
  unsigned t = j;
  while (t < kMaxMatch && LzhWindow[a + t] == LzhWindow[y + t]) ++t;
  TreePrefix[y] = static_cast<uint8_t>(t);
}

std::vector<uint8_t> TReferenceLzh::CompressLzh() {
  LzhModel.InitLzhModel();
  OutBits = 0;
  OutBitCount = 0;
  for (unsigned slot = kFirstRootSlot; slot <= kLastRootSlot; ++slot) TreeRight[slot] = kTreeNil;
  for (unsigned p = 0; p < kWindowSize; ++p) TreeParent[p] = kTreeNil;

  // The positions a short input leaves unfilled, and the tail that mirrors the spaces at the
  // start of the ring, hold spaces too.
  for (uint8_t& b : LzhWindow) b = kFillByte;
  unsigned s = 0;
  unsigned r = kStartPosition;

  LookaheadCount = 0;
  while (LookaheadCount < kMaxMatch) {
    const uint8_t b = GetSourceByte();
    if (EndOfInput) break;
    LzhWindow[kStartPosition + LookaheadCount] = b;
    ++LookaheadCount;
  }
  if (LookaheadCount == 0) return Output;

  for (unsigned t = 1; t <= kMaxMatch; ++t) TreeInsert(kStartPosition - t);
  TreeInsert(kStartPosition);

  unsigned step = 0;
  do {
    if (CheckEvery > 0 && step % CheckEvery == 0) Check(step, r, s);
    ++step;

    if (MatchLength > LookaheadCount) MatchLength = static_cast<uint16_t>(LookaheadCount);
    if (MatchLength <= 2) {
      MatchLength = 1;
      WriteLzhSymbol(LzhWindow[r]);
    } else {
      WriteLzhSymbol(253 + MatchLength);
      WriteMatchOffset(MatchOffset);
    }
    const unsigned n = MatchLength;
    unsigned i = 0;
    for (; i < n; ++i) {
      const uint8_t b = GetSourceByte();
      if (EndOfInput) break;
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
      --LookaheadCount;
      if (LookaheadCount > 0) TreeInsert(r);
    }
  } while (LookaheadCount != 0);

  FlushBits();
  return Output;
}

unsigned TReferenceLzh::CommonPrefix(unsigned a, unsigned b) const {
  unsigned t = 0;
  while (t < kMaxMatch && LzhWindow[a + t] == LzhWindow[b + t]) ++t;
  return t;
}

bool TReferenceLzh::Less(unsigned a, unsigned b) const {
  const unsigned t = CommonPrefix(a, b);
  return t < kMaxMatch && LzhWindow[a + t] < LzhWindow[b + t];
}

void TReferenceLzh::Fail(unsigned step, const std::string& what) {
  throw std::logic_error("before coding step " + std::to_string(step) + ": " + what);
}

void TReferenceLzh::CheckSubtree(unsigned node, unsigned slot, unsigned& last, unsigned& count,
                                 unsigned step) const {
  if (node == kTreeNil) return;
  const std::string at = "position " + std::to_string(node);
  if (++count > kWindowSize) Fail(step, "a tree has a cycle through " + at);
  const unsigned parent = TreeParent[node];
  if (parent == kTreeNil) Fail(step, at + " is linked but has no parent");
  const unsigned expected = IsRootSlot(parent) ? 1 : CommonPrefix(node, parent);
  if (TreePrefix[node] != expected) {
    Fail(step, at + " caches a prefix of " + std::to_string(TreePrefix[node]) + ", not " +
                   std::to_string(expected));
  }
  if (RootSlot(LzhWindow[node], LzhWindow[node + 1], LzhWindow[node + 2]) != slot)
    Fail(step, at + " is in the tree of another root slot");

  const unsigned left = TreeLeft[node];
  const unsigned right = TreeRight[node];
  if (left != kTreeNil && TreeParent[left] != node)
    Fail(step, "the left child of " + at + " names another parent");
  if (right != kTreeNil && TreeParent[right] != node)
    Fail(step, "the right child of " + at + " names another parent");
  CheckSubtree(left, slot, last, count, step);
  if (last != kTreeNil && !Less(last, node))
    Fail(step, "position " + std::to_string(last) + " is not below " + at + " in order");
  last = node;
  CheckSubtree(right, slot, last, count, step);
}

void TReferenceLzh::Check(unsigned step, unsigned r, unsigned s) const {
  unsigned linked = 0;
  for (unsigned slot = kFirstRootSlot; slot <= kLastRootSlot; ++slot) {
    const unsigned root = TreeRight[slot];
    if (root == kTreeNil) continue;
    if (TreeParent[root] != slot) Fail(step, "the root of a tree names another parent");
    unsigned last = kTreeNil;
    CheckSubtree(root, slot, last, linked, step);
  }
  unsigned withParent = 0;
  for (unsigned p = 0; p < kWindowSize; ++p) {
    if (TreeParent[p] == kTreeNil) continue;
    ++withParent;
    // Offsets stay within 0..4035 because every string in the trees lies from s up to r.
    if (((p - s) & kWindowMask) > ((r - s) & kWindowMask))
      Fail(step, "position " + std::to_string(p) + " lies outside the stretch from s to r");
  }
  if (withParent != linked) Fail(step, "a position with a parent is not reached from a root");

  // The match about to be coded: the longest any other string in the trees offers, up to 60.
  unsigned longest = 0;
  for (unsigned p = 0; p < kWindowSize; ++p) {
    if (p != r && TreeParent[p] != kTreeNil) {
      const unsigned t = CommonPrefix(r, p);
      if (t > longest) longest = t;
    }
  }
  const unsigned source = (r - MatchOffset - 1u) & kWindowMask;
  if (MatchLength == kMaxMatch) {
    // The equal string left the trees when r took its place; its bytes are still there.
    if (CommonPrefix(r, source) != kMaxMatch) Fail(step, "a match of 60 points elsewhere");
  } else if (MatchLength != (longest >= kMinMatch ? longest : 0)) {
    Fail(step, "the match found is " + std::to_string(MatchLength) + " bytes, the longest " +
                   std::to_string(longest));
  } else if (MatchLength >= kMinMatch && CommonPrefix(r, source) != MatchLength) {
    Fail(step, "the match offset points at a string of another length");
  }
}

}  // namespace

std::vector<uint8_t> ReferenceCompressLzh(const std::vector<uint8_t>& input, unsigned checkEvery) {
  TReferenceLzh compressor(input, checkEvery);
  return compressor.CompressLzh();
}

}  // namespace vo::test
