#include "codec/lh5_finder.h"

#include <vector>

namespace vo::lh5 {

namespace {

constexpr int kLeafFirst = kWindowSize;
constexpr int kLeafEnd = 2 * kWindowSize;
constexpr int kNoLeaf = -1;
constexpr int kVisiting = -2;  // on the walk under way

// For every leaf, the leaf a finder reaches from it by the successors replaced leaves leave: the
// leaf itself while it is in the trie, else the one that took its place, or the one that took
// that one's, and so on. kNoLeaf where the walk leads nowhere a leaf's name can tell (out of
// the leaves, or round a loop), so that two finders are never taken for equal on its account.
// Each leaf is walked once: a run of equal bytes leaves chains thousands of leaves long.
std::vector<int> SuccessorsOf(const TTrieEntry* trie) {
  std::vector<int> reached(kWindowSize, 0);
  std::vector<int> path;
  for (int leaf = kLeafFirst; leaf < kLeafEnd; ++leaf) {
    path.clear();
    int r = leaf;
    int result = kNoLeaf;
    for (;;) {
      if (r < kLeafFirst || r >= kLeafEnd) break;
      int& known = reached[static_cast<std::size_t>(r - kLeafFirst)];
      if (known == kVisiting) break;
      if (known != 0) {
        result = known;
        break;
      }
      if (trie[r].Parent != 0) {
        result = r;
        break;
      }
      known = kVisiting;
      path.push_back(r);
      r = trie[r].Next;
    }
    for (const int visited : path) reached[static_cast<std::size_t>(visited - kLeafFirst)] = result;
    if (path.empty() && result == leaf) reached[static_cast<std::size_t>(leaf - kLeafFirst)] = leaf;
  }
  return reached;
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
  const std::vector<int> successorA = SuccessorsOf(a.Trie);
  const std::vector<int> successorB = SuccessorsOf(b.Trie);
  for (int leaf = kLeafFirst; leaf < kLeafEnd; ++leaf) {
    int x = a.Trie[leaf].Parent;
    int y = b.Trie[leaf].Parent;
    if ((x == 0) != (y == 0)) return false;
    if (x == 0) {
      const auto at = static_cast<std::size_t>(leaf - kLeafFirst);
      if (successorA[at] == kNoLeaf || successorA[at] != successorB[at]) return false;
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
