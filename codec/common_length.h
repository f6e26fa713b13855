// Comparing two strings of a window a word at a time, for the match finders.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace vo {

// The first index in [from, limit) at which a and b differ, or limit when they agree throughout.
// Reads no byte at or beyond limit.
inline int CommonLength(const uint8_t* a, const uint8_t* b, int from, int limit) {
  int i = from;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= limit; i += 8) {
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, a + i, sizeof x);
      std::memcpy(&y, b + i, sizeof y);
      // On a little-endian machine the lowest differing bit lies in the first differing byte.
      if (x != y) return i + std::countr_zero(x ^ y) / 8;
    }
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

}  // namespace vo
