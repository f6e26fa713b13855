#include "codec/lh5_tables.h"

#include <algorithm>

#include "core/exception.h"
#include "core/messages.h"

namespace vo::lh5 {

void ReleaseLh5Storage(TLh5Storage* storage) {
  if (storage == nullptr) return;
  storage->Compress.reset();
  delete storage;
}

TLh5StorageHold AcquireLh5Storage(bool compress) {
  TLh5StorageHold storage(new TLh5Storage());
  if (compress) storage->Compress = std::make_unique<TLh5CompressArrays>();
  return storage;
}

TCodeLayout LayOutCode(int n, const uint8_t* length, int b) {
  TCodeLayout code;
  // Sums in 32 bits: a set whose weights reach 131072 must not pass for a complete code.
  std::array<uint32_t, kMaxCodeLength + 2> count{};
  for (int y = 0; y < n; ++y) {
    if (length[y] > kMaxCodeLength) throw ELZHBadDecodeTable(kMsgBadDecodeTable);
    ++count[length[y]];
  }
  for (int l = 1; l <= kMaxCodeLength; ++l) {
    code.Weight[l] = 1u << (kMaxCodeLength - l);
    code.Start[l + 1] = code.Start[l] + count[l] * code.Weight[l];
  }
  if (code.Start[kMaxCodeLength + 1] == 0) {
    code.Empty = true;
    return code;
  }
  if (code.Start[kMaxCodeLength + 1] != kCompleteCodeSum) {
    throw ELZHBadDecodeTable(kMsgBadDecodeTable);
  }
  const int s = kMaxCodeLength - b;
  for (int l = 1; l <= b; ++l) {
    code.Start[l] >>= s;
    code.Weight[l] >>= s;
  }
  return code;
}

}  // namespace vo::lh5
