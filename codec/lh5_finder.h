// The LH5 match finder: a suffix trie over the last 8192 positions of a 16640-byte text buffer,
// which finds for each new position a longest earlier match of up to 256 bytes. It reads its
// input through TLh5Input, so that several finders may run side by side over one input held in
// memory, each with storage of its own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/common_length.h"
#include "codec/lh5_tables.h"

namespace vo::lh5 {

inline constexpr int kFirstPosition = kWindowSize + kMaxMatch;  // 8448
inline constexpr int kTextEnd = 16640;
inline constexpr int kSlidePoint = 2 * kWindowSize;
inline constexpr int kSlideBytes = kTextEnd - kWindowSize;  // moved down at each slide
inline constexpr int kRefillBytes = kTextEnd - kFirstPosition;
// Input offset of the first slide; every later one is a window further.
inline constexpr int64_t kFirstSlideOffset = kSlidePoint - kFirstPosition;  // 7936

// Where a finder's text comes from.
class TLh5Input {
 public:
  // Reads up to n bytes into out; fewer only at the end of the input.
  virtual int Read(uint8_t* out, int n) = 0;
  // Fills out with n bytes, each the next input byte or, where the input has none, a space;
  // returns how many were input bytes.
  virtual int ReadFirst(uint8_t* out, int n) {
    const int got = Read(out, n);
    std::fill(out + got, out + n, kSpace);
    return got;
  }

 protected:
  ~TLh5Input() = default;
};

// The state a finder's next steps depend on, apart from the names of its inner nodes: the text,
// the trie and the scalars. A live finder gives one, and so does a copy kept for comparison.
struct TLh5FinderView {
  const uint8_t* Window;
  const TTrieEntry* Trie;
  int Position;
  int MatchPosition;
  int MatchLength;
  int Lookahead;
};

class TLh5Finder {
 public:
  TLh5Finder(TLh5Storage& storage, TLh5Input& input)
      : Input(&input), Text(storage.Lh5Window.data()), C(*storage.Compress), T(C.Trie.data()) {}

  // Reads the first window at the start of the input and finds the first position's match;
  // false for an empty input.
  bool Start();
  // Starts anew at a slide point, with the trie empty: window holds the 16640 bytes around it
  // (8192 before the position, the position itself and 8447 after), all of them input, and the
  // input goes on after them.
  void StartAt(const uint8_t* window);
  // One position on: the oldest leaf leaves, the new position goes in, and its match is found.
  void Lh5Advance();
  // A match that is sent never covers bytes past the end of the input.
  void CutMatchToInput() { Lh5MatchLength = std::min(Lh5MatchLength, Lh5Lookahead); }

  void SetInput(TLh5Input& input) { Input = &input; }
  int Position() const { return Lh5Position; }
  int MatchPosition() const { return Lh5MatchPosition; }
  int MatchLength() const { return Lh5MatchLength; }
  // The match's offset as sent: its distance from the current position, minus one.
  unsigned MatchOffset() const {
    return static_cast<unsigned>(Lh5Position - Lh5MatchPosition - 1) & kWindowMask;
  }
  int Lookahead() const { return Lh5Lookahead; }
  const uint8_t* Window() const { return Text; }
  TLh5FinderView View() const {
    return {Text, T, Lh5Position, Lh5MatchPosition, Lh5MatchLength, Lh5Lookahead};
  }

 private:
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

  static constexpr int kRootBase = kWindowSize;  // root(b) = 8192 + b; leaves are 8192..16383
  static constexpr int kRootCount = 256;
  static constexpr int kLastInnerNode = kWindowSize - 1;
  static constexpr uint16_t kPendingFlag = 0x8000;
  static constexpr uint16_t kPositionBits = 0x7FFF;
  static constexpr uint16_t kLeafBit = 0x2000;  // turns a slid-down position back into leaf form

  TLh5Input* Input;
  uint8_t* const Text;
  TLh5CompressArrays& C;
  TTrieEntry* const T;  // C.Trie

  int Lh5Position = 0;
  int Lh5MatchPosition = 0;
  int Lh5MatchLength = 0;
  int Lh5Lookahead = 0;
  int TrieFreeHead = 0;
};

// Whether two finders' next steps find the same matches for ever: the same text, position,
// match and look-ahead, the same leaves under inner nodes that correspond one to one with the
// same levels, positions and child counts, and the same successors of replaced leaves. The
// names of inner nodes and the order of hash chains may differ; nothing a step finds depends on
// them. False may also mean only that the check could not tell.
bool SameFinderState(const TLh5FinderView& a, const TLh5FinderView& b);

// ---- The trie.
//
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
inline uint16_t& TLh5Finder::Link(uint32_t at) {
  return *reinterpret_cast<uint16_t*>(reinterpret_cast<std::byte*>(&C) + at);
}

inline uint32_t TLh5Finder::LinkOf(const uint16_t& field) const {
  return static_cast<uint32_t>(reinterpret_cast<const std::byte*>(&field) -
                               reinterpret_cast<const std::byte*>(&C));
}

inline void TLh5Finder::TrieUnlink(int e) {
  Link(T[e].Prev) = T[e].Next;
  T[T[e].Next].Prev = T[e].Prev;
}

// e takes old's place under old's parent, and in its chain: same parent and byte, so the same
// key.
inline void TLh5Finder::TrieTakePlace(int old, int e) {
  T[e].Parent = T[old].Parent;
  T[T[old].Parent].ChildXor ^= static_cast<uint16_t>(old ^ e);
  const uint32_t prev = T[old].Prev;
  T[e].Prev = prev;
  Link(prev) = static_cast<uint16_t>(e);
  const int next = T[old].Next;
  T[e].Next = static_cast<uint16_t>(next);
  T[next].Prev = LinkOf(T[e].Next);
}

inline void TLh5Finder::TrieInit() {
  std::fill(C.Trie.begin(), C.Trie.end(), TTrieEntry{});
  for (int r = kRootBase; r < kRootBase + kRootCount; ++r) T[r].Level = 1;
  TrieFreeHead = 1;
  for (int i = 1; i < kLastInnerNode; ++i) T[i].Next = static_cast<uint16_t>(i + 1);
  T[kLastInnerNode].Next = 0;
  C.TrieHead.fill(0);
  C.RootChild.fill(0);
}

// For a child of an inner node.
inline int TLh5Finder::TrieFindChild(int q, int b) {
  T[0].Parent = static_cast<uint16_t>(q);  // stops the walk at the chain's end
  int r = C.TrieHead[TrieSlot(q, b)];
  while (T[r].Parent != q) r = T[r].Next;
  return r;
}

inline void TLh5Finder::TrieCountChild(int q, int r) {
  ++T[q].ChildCount;
  T[q].ChildXor ^= static_cast<uint16_t>(r);
}

inline void TLh5Finder::TrieAddRootChild(int key, int r) {
  C.RootChild[key] = static_cast<uint16_t>(r);
  const int q = kRootBase + (key >> 8);
  T[r].Next = 0;
  T[r].Prev = LinkOf(C.RootChild[key]);
  T[r].Parent = static_cast<uint16_t>(q);
  TrieCountChild(q, r);
}

// Under an inner node.
inline void TLh5Finder::TrieAddChild(int q, int b, int r) {
  const int h = TrieSlot(q, b);
  const int t = C.TrieHead[h];
  C.TrieHead[h] = static_cast<uint16_t>(r);
  T[r].Next = static_cast<uint16_t>(t);
  T[t].Prev = LinkOf(T[r].Next);
  T[r].Prev = LinkOf(C.TrieHead[h]);
  T[r].Parent = static_cast<uint16_t>(q);
  TrieCountChild(q, r);
}

[[gnu::always_inline]] inline void TLh5Finder::TrieSplit(int old) {
  const int added = TrieFreeHead;
  TrieFreeHead = T[added].Next;
  T[added].ChildCount = 0;
  T[added].ChildXor = 0;
  TrieTakePlace(old, added);
  T[added].Level = static_cast<uint8_t>(Lh5MatchLength);
  T[added].Position = static_cast<uint16_t>(Lh5Position);
  TrieAddChild(added, Text[Lh5MatchPosition + Lh5MatchLength], old);
  TrieAddChild(added, Text[Lh5Position + Lh5MatchLength], Lh5Position);
}

[[gnu::always_inline]] inline void TLh5Finder::TrieInsert() {
  const int p = Lh5Position;
  const uint8_t* text = Text;
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

inline void TLh5Finder::TrieRemove() {
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

// The step of each position. It is inlined into the parse loops, and the insertion and split
// into it: at millions of calls, the calls cost more than the larger code.
[[gnu::always_inline]] inline void TLh5Finder::Lh5Advance() {
  --Lh5Lookahead;
  if (++Lh5Position == kSlidePoint) {
    std::memmove(Text, Text + kWindowSize, kSlideBytes);
    const int got = Input->Read(Text + kFirstPosition, kRefillBytes);
    // The byte read at the end of the input stays where it was read: it takes part in the
    // trie's comparisons as every byte of the buffer does.
    if (got < kRefillBytes) Text[kFirstPosition + got] = 0;
    Lh5Lookahead += got;
    Lh5Position = kWindowSize;
  }
  TrieRemove();
  TrieInsert();
}

inline bool TLh5Finder::Start() {
  TrieInit();
  Lh5Position = kFirstPosition;
  Lh5Lookahead = Input->ReadFirst(Text + kFirstPosition, kRefillBytes);
  if (Lh5Lookahead == 0) return false;
  Lh5MatchPosition = 0;
  Lh5MatchLength = 0;
  TrieInsert();
  return true;
}

inline void TLh5Finder::StartAt(const uint8_t* window) {
  TrieInit();
  std::memcpy(Text, window, kTextEnd);
  Lh5Position = kWindowSize;
  Lh5Lookahead = kTextEnd - kWindowSize;
  Lh5MatchPosition = 0;
  Lh5MatchLength = 0;
  TrieInsert();
}

}  // namespace vo::lh5
