// Bytes for the tests: generated inputs (the same seed gives the same bytes), little-endian
// fields appended to a buffer, sums, and whole files read and written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "core/little_endian.h"

namespace vo::test {

using TBytes = std::vector<uint8_t>;
using ByteVector = TBytes;  // the codec tests' name for it

inline TBytes Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

inline uint32_t ByteSum(const TBytes& data) {
  uint32_t sum = 0;
  for (uint8_t b : data) sum += b;
  return sum;
}

inline TBytes RandomBytes(std::size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  TBytes out(n);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

// Words drawn at random from a small vocabulary: many matches of varied lengths and offsets.
inline TBytes TextBytes(std::size_t n, uint32_t seed) {
  static const char* const kWords[] = {"the ",     "window ", "slides ", "over ",  "a ",
                                       "block ",   "of ",     "codes ",  "and ",   "matches ",
                                       "install",  "er\r\n",  "length ", "offset", ", ",
                                       "Huffman ", "tree ",   "leaf ",   "node ",  "\t"};
  std::mt19937 random(seed);
  TBytes out;
  while (out.size() < n) {
    const std::string word = kWords[random() % std::size(kWords)];
    out.insert(out.end(), word.begin(), word.end());
  }
  out.resize(n);
  return out;
}

// Appends the width (1 to 4) low bytes of value, the lowest first.
inline void PutLE(TBytes& out, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The width (2 or 4) bytes at at as a little-endian number; std::out_of_range past the end.
inline uint32_t GetLE(const TBytes& in, std::size_t at, int width) {
  in.at(at + static_cast<std::size_t>(width) - 1);
  return width == 2 ? LoadLittleEndian<uint16_t>(&in[at]) : LoadLittleEndian<uint32_t>(&in[at]);
}

inline void WriteFile(const std::string& path, const TBytes& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// The file's bytes, at most limit of them.
inline TBytes ReadFile(const std::string& path,
                       std::size_t limit = std::numeric_limits<std::size_t>::max()) {
  std::ifstream in(path, std::ios::binary);
  TBytes out{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (out.size() > limit) out.resize(limit);
  return out;
}

}  // namespace vo::test
