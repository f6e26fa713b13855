#include "codec/lzh_model.h"

#include <algorithm>

namespace vo::lzh {

// The offset code is complete: the last code ends the 8-bit range exactly.
static_assert(OffsetCodeTable[kOffsetUpperCount - 1].Code == 0xFF);
static_assert(OffsetCodeTable[kOffsetUpperCount - 1].Length == 8);
static_assert(OffsetDecodeTable[0xFF].Upper == kOffsetUpperCount - 1);

void TLzhModel::InitLzhModel() {
  for (unsigned s = 0; s < kSymbolCount; ++s) {
    NodeWeight[s] = 1;
    NodeChild[s] = static_cast<uint16_t>(kLeafBase + s);
    NodeParent[kLeafBase + s] = static_cast<uint16_t>(s);
  }
  for (unsigned n = kSymbolCount, j = 0; n < kNodeCount; ++n, j += 2) {
    NodeWeight[n] = static_cast<uint16_t>(NodeWeight[j] + NodeWeight[j + 1]);
    NodeChild[n] = static_cast<uint16_t>(j);
    NodeParent[j] = NodeParent[j + 1] = static_cast<uint16_t>(n);
  }
  std::fill(NodeWeight.begin() + kNodeCount, NodeWeight.end(), kSentinelWeight);
  NodeParent[kRoot] = 0;
  Watched.fill(0);
  WatchedMoved = true;
}

// Moves the node at p, of new weight k, above every node lighter than k, and returns its new
// position.
template <bool kWatch>
inline unsigned TLzhModel::MoveUp(unsigned p, uint16_t k) {
  // Those follow p in one block, counted a group at a time (no branch per node); the sentinels
  // end the block.
  unsigned q = p + 1;
  unsigned lighter;
  do {
    lighter = 0;
    for (unsigned j = 1; j <= kWeightGroup; ++j) lighter += NodeWeight[q + j] < k ? 1 : 0;
    q += lighter;
  } while (lighter == kWeightGroup);
  NodeWeight[p] = NodeWeight[q];
  NodeWeight[q] = k;
  if constexpr (kWatch) WatchedMoved |= (Watched[p] | Watched[q]) != 0;
  const unsigned a = NodeChild[p];
  const unsigned b = NodeChild[q];
  NodeChild[q] = static_cast<uint16_t>(a);
  NodeChild[p] = static_cast<uint16_t>(b);
  // A leaf has no second child: its write goes to the scratch entry, without a branch.
  NodeParent[a] = static_cast<uint16_t>(q);
  NodeParent[a < kLeafBase ? a + 1 : kParentScratch] = static_cast<uint16_t>(q);
  NodeParent[b] = static_cast<uint16_t>(p);
  NodeParent[b < kLeafBase ? b + 1 : kParentScratch] = static_cast<uint16_t>(p);
  return q;
}

void TLzhModel::UpdateLzhModel(unsigned s) {
  if (NodeWeight[kRoot] == kRebuildWeight) RebuildLzhModel();
  UpdateFrom<false>(NodeParent[kLeafBase + s]);
}

// The hottest loops of both directions start on a cache line: where they fell otherwise moved
// with every change elsewhere in the program, and LZH expansion with it by up to 4%.
template <bool kWatch>
[[gnu::aligned(64)]] void TLzhModel::UpdateFrom(unsigned p) {
  do {
    const uint16_t k = ++NodeWeight[p];
    if (k > NodeWeight[p + 1]) p = MoveUp<kWatch>(p, k);
    p = NodeParent[p];
  } while (p != 0);
}

[[gnu::aligned(64)]] void TLzhModel::UpdateWatchedModel(unsigned s, const uint16_t* path,
                                                        unsigned depth) {
  if (NodeWeight[kRoot] == kRebuildWeight) {
    RebuildLzhModel();
    UpdateFrom<true>(NodeParent[kLeafBase + s]);
    return;
  }
  for (unsigned i = depth; i-- > 0;) {
    const unsigned p = path[i];
    const uint16_t k = ++NodeWeight[p];
    if (k > NodeWeight[p + 1]) {
      UpdateFrom<true>(NodeParent[MoveUp<true>(p, k)]);
      return;
    }
  }
  ++NodeWeight[kRoot];  // the sentinel after the root is heavier than any root
}

void TLzhModel::RebuildLzhModel() {
  WatchedMoved = true;
  // The leaves, in order, at half their weight: still in weight order.
  std::array<uint16_t, kSymbolCount> leafWeight;
  std::array<uint16_t, kSymbolCount> leafChild;
  for (unsigned p = 0, j = 0; p < kNodeCount; ++p) {
    if (NodeChild[p] >= kLeafBase) {
      leafWeight[j] = static_cast<uint16_t>((NodeWeight[p] + 1u) >> 1);
      leafChild[j] = NodeChild[p];
      ++j;
    }
  }
  // The tree built by pairing positions 2j and 2j + 1 into the j-th inner node, each placed
  // above every node that weighs no more: a merge of the leaves with the inner nodes, which
  // come in weight order. An inner node waits until both its children are placed; it always
  // weighs at least the second, so waiting never puts it out of order.
  unsigned leaf = 0;
  unsigned inner = 0;
  for (unsigned n = 0; n < kNodeCount; ++n) {
    const bool innerReady = 2 * inner + 1 < n;
    const uint32_t f = innerReady ? NodeWeight[2 * inner] + NodeWeight[2 * inner + 1] : 0;
    if (leaf < kSymbolCount && (!innerReady || leafWeight[leaf] <= f)) {
      NodeWeight[n] = leafWeight[leaf];
      NodeChild[n] = leafChild[leaf];
      ++leaf;
    } else {
      NodeWeight[n] = static_cast<uint16_t>(f);
      NodeChild[n] = static_cast<uint16_t>(2 * inner);
      ++inner;
    }
  }
  for (unsigned p = 0; p < kNodeCount; ++p) {
    const unsigned m = NodeChild[p];
    NodeParent[m] = static_cast<uint16_t>(p);
    if (m < kLeafBase) NodeParent[m + 1] = static_cast<uint16_t>(p);
  }
  NodeParent[kRoot] = 0;
}

unsigned TLzhModel::CodeLength(unsigned s) const {
  unsigned length = 0;
  for (unsigned p = NodeParent[kLeafBase + s]; p != kRoot; p = NodeParent[p]) ++length;
  return length;
}

}  // namespace vo::lzh
