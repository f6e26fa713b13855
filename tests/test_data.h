// Generated inputs for the codec tests: the same seed gives the same bytes.
#pragma once

#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace vo::test {

using ByteVector = std::vector<uint8_t>;

inline ByteVector RandomBytes(std::size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  ByteVector out(n);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

// Words drawn at random from a small vocabulary: many matches of varied lengths and offsets.
inline ByteVector TextBytes(std::size_t n, uint32_t seed) {
  static const char* const kWords[] = {"the ",     "window ", "slides ", "over ",  "a ",
                                       "block ",   "of ",     "codes ",  "and ",   "matches ",
                                       "install",  "er\r\n",  "length ", "offset", ", ",
                                       "Huffman ", "tree ",   "leaf ",   "node ",  "\t"};
  std::mt19937 random(seed);
  ByteVector out;
  while (out.size() < n) {
    const std::string word = kWords[random() % std::size(kWords)];
    out.insert(out.end(), word.begin(), word.end());
  }
  out.resize(n);
  return out;
}

}  // namespace vo::test
