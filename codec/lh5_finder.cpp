#include "codec/lh5_finder.h"

#include <vector>

namespace vo::lh5 {

namespace {

constexpr int kLeafFirst = kWindowSize;
constexpr int kLeafEnd = 2 * kWindowSize;
constexpr int kNoLeaf = -1;

// The leaf a finder reaches from a replaced leaf by the successors it left: the one that took
// its place, or the one that took that one's, and so on. kNoLeaf when the walk leads nowhere
// a leaf's name can tell, so that two finders are never taken for equal on its account.
int SuccessorOf(const TTrieEntry* trie, int leaf) {
  int r = leaf;
  for (int steps = 0; steps <= kWindowSize; ++steps) {
    if (trie[r].Parent != 0) return r >= kLeafFirst ? r : kNoLeaf;
    r = trie[r].Next;
    if (r < kLeafFirst) return kNoLeaf;
  }
  return kNoLeaf;
}

}  // namespace

bool SameFinderState(const TLh5FinderView& a, const TLh5FinderView& b) {
  if (a.Position != b.Position || a.MatchPosition != b.MatchPosition ||
      a.MatchLength != b.MatchLength || a.Lookahead != b.Lookahead) {
    return false;
  }
  if (std::memcmp(a.Window, b.Window, kTextSize) != 0) return false;
  // Inner nodes are paired as the walks up from the leaves meet them; a pairing must hold for
  // every walk, and paired nodes must agree in everything a step reads of them.
  std::vector<uint16_t> pairOfA(kWindowSize, 0);
  std::vector<uint16_t> pairOfB(kWindowSize, 0);
  for (int leaf = kLeafFirst; leaf < kLeafEnd; ++leaf) {
    int x = a.Trie[leaf].Parent;
    int y = b.Trie[leaf].Parent;
    if ((x == 0) != (y == 0)) return false;
    if (x == 0) {
      const int successor = SuccessorOf(a.Trie, leaf);
      if (successor == kNoLeaf || successor != SuccessorOf(b.Trie, leaf)) return false;
      continue;
    }
    for (;;) {
      const bool rootX = x >= kWindowSize;
      if (rootX != (y >= kWindowSize)) return false;
      if (rootX) {
        if (x != y) return false;
        break;
      }
      if (pairOfA[x] != 0 || pairOfB[y] != 0) {
        if (pairOfA[x] != y || pairOfB[y] != x) return false;
        break;
      }
      const TTrieEntry& ex = a.Trie[x];
      const TTrieEntry& ey = b.Trie[y];
      if (ex.Level != ey.Level || ex.Position != ey.Position || ex.ChildCount != ey.ChildCount) {
        return false;
      }
      pairOfA[x] = static_cast<uint16_t>(y);
      pairOfB[y] = static_cast<uint16_t>(x);
      x = ex.Parent;
      y = ey.Parent;
    }
  }
  return true;
}

}  // namespace vo::lh5
