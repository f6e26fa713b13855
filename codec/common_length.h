// Comparing two strings of a window a word at a time, for the match finders.
#pragma once

#include <algorithm>
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

// The bytes after limit that CommonLengthPadded may read.
inline constexpr int kCommonLengthPad = 7;

// As CommonLength, but the last word may run up to kCommonLengthPad bytes past limit, so
// the loop has no byte-wise tail; those bytes must be readable and do not change the result.
inline int CommonLengthPadded(const uint8_t* a, const uint8_t* b, int from, int limit) {
  if constexpr (std::endian::native != std::endian::little) {
    return CommonLength(a, b, from, limit);
  } else {
    for (int i = from; i < limit; i += 8) {
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, a + i, sizeof x);
      std::memcpy(&y, b + i, sizeof y);
      if (x != y) return std::min(i + std::countr_zero(x ^ y) / 8, limit);
    }
    return limit;
  }
}

}  // namespace vo
