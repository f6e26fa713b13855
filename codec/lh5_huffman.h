// Huffman codes for one LH5 block: built from symbol counts, limited to 16 bits, and handed out
// canonically, left-aligned in 16 bits.
#pragma once

#include <array>
#include <cstdint>

#include "codec/lh5_tables.h"

namespace vo::lh5 {

class TLh5Huffman {
 public:
  // The tree's nodes go into the storage's ZeroChild and OneChild.
  explicit TLh5Huffman(TLh5Storage& storage) : S(storage) {}

  // Fills length[0..n-1] and code[0..n-1] for the symbols counted in counts[0..n-1]; counts
  // needs room for the n - 1 node sums behind them. Returns the root: a node of n or more, or,
  // when fewer than two symbols occur, the only symbol (0 when none does), whose length stays 0.
  int BuildHuffmanCode(int n, uint16_t* counts, uint8_t* length, uint16_t* code);

 private:
  void SiftDown(int i);
  void LimitLengths(int n, int root, uint8_t* length, const uint16_t* order);
  void TallyDepths(int n, int node, int depth);
  void AssignCodes(int n, const uint8_t* length, uint16_t* code);

  TLh5Storage& S;
  std::array<uint16_t, kMaxCodeLength + 1> DepthCounts{};
  std::array<uint16_t, kSymbolCount + 1> Heap{};
  int HeapSize = 0;
  const uint16_t* HeapCounts = nullptr;
};

}  // namespace vo::lh5
