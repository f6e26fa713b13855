#include "codec/lh5_tables.h"

#include <algorithm>

#include "core/exception.h"
#include "core/messages.h"

namespace vo::lh5 {

void ReleaseLh5Storage(TLh5Storage* storage) {
  if (storage == nullptr) return;
  storage->SymbolTable.reset();
  storage->Compress.reset();
  delete storage;
}

TLh5StorageHold AcquireLh5Storage(bool compress) {
  TLh5StorageHold storage(new TLh5Storage());
  if (compress) {
    storage->Compress = std::make_unique<TLh5CompressArrays>();
  } else {
    storage->SymbolTable = std::make_unique<TSymbolTable>();
  }
  return storage;
}

void BuildDecodeTable(TLh5Storage& storage, int n, const uint8_t* length, int b, uint16_t* table) {
  // Sums in 32 bits: a set whose weights reach 131072 must not pass for a complete code.
  std::array<uint32_t, kMaxCodeLength + 2> count{};
  std::array<uint32_t, kMaxCodeLength + 2> weight{};
  std::array<uint32_t, kMaxCodeLength + 2> start{};
  for (int y = 0; y < n; ++y) {
    if (length[y] > kMaxCodeLength) throw ELZHBadDecodeTable(kMsgBadDecodeTable);
    ++count[length[y]];
  }
  for (int l = 1; l <= kMaxCodeLength; ++l) {
    weight[l] = 1u << (kMaxCodeLength - l);
    start[l + 1] = start[l] + count[l] * weight[l];
  }
  const uint32_t tableSize = 1u << b;
  if (start[kMaxCodeLength + 1] == 0) {  // all lengths 0: nothing here may ever be decoded
    std::fill_n(table, tableSize, kUnfilledEntry);
    return;
  }
  if (start[kMaxCodeLength + 1] != kCompleteCodeSum) throw ELZHBadDecodeTable(kMsgBadDecodeTable);

  const int s = kMaxCodeLength - b;
  for (int l = 1; l <= b; ++l) {
    start[l] >>= s;
    weight[l] >>= s;
  }
  // Entries behind the short codes lead into trees.
  for (uint32_t i = start[b + 1] >> s; i < tableSize; ++i) table[i] = 0;

  const uint32_t branchBit = 1u << (kMaxCodeLength - 1 - b);
  auto nextNode = static_cast<uint16_t>(n);
  for (int y = 0; y < n; ++y) {
    const int l = length[y];
    if (l == 0) continue;
    const uint32_t end = start[l] + weight[l];
    if (l <= b) {
      std::fill(table + start[l], table + end, static_cast<uint16_t>(y));
    } else {
      uint32_t k = start[l];
      uint16_t* slot = &table[k >> s];
      for (int d = l - b; d > 0; --d) {
        if (*slot == 0) {
          storage.ZeroChild[nextNode] = 0;
          storage.OneChild[nextNode] = 0;
          *slot = nextNode++;
        }
        slot = (k & branchBit) != 0 ? &storage.OneChild[*slot] : &storage.ZeroChild[*slot];
        k = (k << 1) & 0xFFFF;
      }
      *slot = static_cast<uint16_t>(y);
    }
    start[l] = end;
  }
}

}  // namespace vo::lh5
