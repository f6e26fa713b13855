#include "codec/lh5_huffman.h"

#include <algorithm>

namespace vo::lh5 {

int TLh5Huffman::BuildHuffmanCode(int n, uint16_t* counts, uint8_t* length, uint16_t* code) {
  HeapCounts = counts;
  HeapSize = 0;
  Heap[1] = 0;
  for (int i = 0; i < n; ++i) {
    length[i] = 0;
    if (counts[i] != 0) Heap[++HeapSize] = static_cast<uint16_t>(i);
  }
  if (HeapSize < 2) {
    code[Heap[1]] = 0;
    return Heap[1];
  }
  for (int i = HeapSize / 2; i >= 1; --i) SiftDown(i);
  // code[] collects the leaves in the order they leave the heap, rarest first.
  int next = n;
  int ordered = 0;
  int k = 0;
  do {
    const int i = Heap[1];
    if (i < n) code[ordered++] = static_cast<uint16_t>(i);
    Heap[1] = Heap[HeapSize--];
    SiftDown(1);
    const int j = Heap[1];
    if (j < n) code[ordered++] = static_cast<uint16_t>(j);
    k = next++;
    counts[k] = static_cast<uint16_t>(counts[i] + counts[j]);
    Heap[1] = static_cast<uint16_t>(k);
    SiftDown(1);
    S.ZeroChild[k] = static_cast<uint16_t>(i);
    S.OneChild[k] = static_cast<uint16_t>(j);
  } while (HeapSize > 1);
  LimitLengths(n, k, length, code);
  AssignCodes(n, length, code);
  return k;
}

void TLh5Huffman::SiftDown(int i) {
  const uint16_t v = Heap[i];
  for (;;) {
    int j = 2 * i;
    if (j > HeapSize) break;
    // The right child when there is one and it is lighter (the left wins ties), picked
    // without a branch: the two counts compare in no order a predictor could learn.
    const int right = std::min(j + 1, HeapSize);
    j += static_cast<int>(HeapCounts[Heap[j]] > HeapCounts[Heap[right]]);
    if (HeapCounts[v] <= HeapCounts[Heap[j]]) break;
    Heap[i] = Heap[j];
    i = j;
  }
  Heap[i] = v;
}

void TLh5Huffman::TallyDepths(int n, int node, int depth) {
  if (node < n) {
    ++DepthCounts[std::min(depth, kMaxCodeLength)];
    return;
  }
  TallyDepths(n, S.ZeroChild[node], depth + 1);
  TallyDepths(n, S.OneChild[node], depth + 1);
}

void TLh5Huffman::LimitLengths(int n, int root, uint8_t* length, const uint16_t* order) {
  DepthCounts.fill(0);
  TallyDepths(n, root, 0);
  uint32_t total = 0;
  for (int d = 1; d <= kMaxCodeLength; ++d) total += uint32_t{DepthCounts[d]} << (16 - d);
  total &= 0xFFFF;
  if (total != 0) {  // leaves deeper than 16 were counted at 16: move room down until it fits
    DepthCounts[kMaxCodeLength] = static_cast<uint16_t>(DepthCounts[kMaxCodeLength] - total);
    for (; total > 0; --total) {
      for (int d = kMaxCodeLength - 1; d >= 1; --d) {
        if (DepthCounts[d] == 0) continue;
        --DepthCounts[d];
        DepthCounts[d + 1] = static_cast<uint16_t>(DepthCounts[d + 1] + 2);
        break;
      }
    }
  }
  int next = 0;
  for (int d = kMaxCodeLength; d >= 1; --d) {
    for (int c = 0; c < DepthCounts[d]; ++c) length[order[next++]] = static_cast<uint8_t>(d);
  }
}

void TLh5Huffman::AssignCodes(int n, const uint8_t* length, uint16_t* code) {
  std::array<uint16_t, kMaxCodeLength + 2> start{};
  for (int d = 1; d <= kMaxCodeLength; ++d) {
    start[d + 1] = static_cast<uint16_t>(start[d] + (DepthCounts[d] << (16 - d)));
  }
  for (int i = 0; i < n; ++i) {
    const int l = length[i];
    if (l == 0) {
      code[i] = 0;
      continue;
    }
    code[i] = start[l];
    start[l] = static_cast<uint16_t>(start[l] + (1u << (16 - l)));
  }
}

}  // namespace vo::lh5
