// The fast LZH compressor against the plain one of lzh_reference.h: the same bytes for inputs
// that stress the match trees (runs, periodic runs across the ring end, near-equal strings,
// strings split by the root-slot hash, far repeats), and checks of the plain one on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/engine.h"
#include "tests/support/bytes.h"
#include "tests/support/lh5.h"
#include "tests/support/lzh_reference.h"
#include "tests/support/streams.h"

namespace vo {
namespace {

using test::ByteVector;
using test::RandomBytes;
using test::ReferenceCompressLzh;
using test::TextBytes;
using test::TRecordingStream;

constexpr std::size_t kRing = 4096;

ByteVector CompressLzhBytes(const ByteVector& plain) {
  TRecordingStream source(plain);
  TRecordingStream sink;
  TCodecSettings settings;
  settings.CompressReserve = test::kNoCompressLimit;
  uint32_t checksum = 0;
  RunCodec(settings, sink, source, static_cast<int32_t>(plain.size()), 0, kMethodLzh, checksum,
           TCodecMode::Compress, false);
  return sink.Data();
}

ByteVector ExpandLzhBytes(const ByteVector& packed, std::size_t count) {
  TRecordingStream source(packed);
  TRecordingStream sink;
  uint32_t checksum = 0;
  RunCodec(TCodecSettings{}, sink, source, static_cast<int32_t>(packed.size()),
           static_cast<int32_t>(count), kMethodLzh, checksum, TCodecMode::Expand, false);
  return sink.Data();
}

ByteVector Repeat(const ByteVector& piece, std::size_t length) {
  ByteVector out(length);
  for (std::size_t i = 0; i < length; ++i) out[i] = piece[i % piece.size()];
  return out;
}

void Append(ByteVector& out, const ByteVector& piece) {
  out.insert(out.end(), piece.begin(), piece.end());
}

// Random stretches and copies of earlier bytes from chosen distances, near ones and ones at and
// beyond the reach of the window; a copy may overlap the bytes it makes.
ByteVector FarRepeats(std::size_t size, uint32_t seed) {
  static constexpr std::size_t kDistances[] = {1,    2,    3,    4,    59,   60,   61,
                                               100,  1000, 4000, 4034, 4035, 4036, 4037,
                                               4095, 4096, 4097, 5000, 8191, 12000};
  std::mt19937 random(seed);
  ByteVector out = RandomBytes(64, seed);
  while (out.size() < size) {
    const std::size_t length = 1 + random() % 120;
    const std::size_t distance = kDistances[random() % std::size(kDistances)];
    if (random() % 3 == 0 || distance > out.size()) {
      Append(out, RandomBytes(length, static_cast<uint32_t>(random())));
    } else {
      for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
    }
  }
  out.resize(size);
  return out;
}

// Copies of one 60-byte string that differ only in its last byte or in the byte after it:
// strings equal over all 60 bytes replace each other, strings that differ last sit side by side.
ByteVector NearEqual(std::size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  const ByteVector base = TextBytes(61, seed);
  static constexpr uint8_t kLast[] = {0x00, 'a', 'b', 0x7F, 0xFF};
  ByteVector out;
  while (out.size() < size) {
    ByteVector copy = base;
    copy[59] = kLast[random() % std::size(kLast)];
    copy[60] = kLast[random() % std::size(kLast)];
    Append(out, copy);
    // Fillers of varied length set the copies at varied distances, beyond the window as well.
    const std::size_t filler = random() % 4 == 0 ? random() % 300 : random() % 4;
    Append(out, RandomBytes(filler, static_cast<uint32_t>(random())));
  }
  out.resize(size);
  return out;
}

// Strings with a common first byte and a common tail whose second and third bytes sometimes
// agree in the 4-bit hash and sometimes not, so that some land in one tree and some in others.
ByteVector HashSplit(std::size_t size, uint32_t seed) {
  static constexpr uint8_t kMiddle[] = {0x00, 0x01, 0x10, 0x11, 0x0F, 0xF0, 0x21, 0x12};
  std::mt19937 random(seed);
  const ByteVector tail = TextBytes(12, seed);
  ByteVector out;
  while (out.size() < size) {
    out.push_back(random() % 2 == 0 ? 'A' : 'B');
    out.push_back(kMiddle[random() % std::size(kMiddle)]);
    out.push_back(kMiddle[random() % std::size(kMiddle)]);
    out.insert(out.end(), tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(random() % 13));
  }
  out.resize(size);
  return out;
}

// Random letters of a small alphabet: strings share long prefixes, and many matches of one
// length compete, so the choice among them depends on the shape of the trees.
ByteVector FewLetters(std::size_t size, unsigned letters, uint32_t seed) {
  std::mt19937 random(seed);
  ByteVector out(size);
  for (uint8_t& b : out) b = static_cast<uint8_t>('a' + random() % letters);
  return out;
}

// A run of period bytes repeated, after a lead-in and with a text tail; when broken, two of its
// bytes are changed far apart so that the run restarts.
ByteVector PeriodicRun(std::size_t period, std::size_t length, bool broken) {
  const auto seed = static_cast<uint32_t>(period);
  ByteVector out = TextBytes(period % 13 * 10, seed);
  ByteVector run = Repeat(RandomBytes(period, seed), length);
  if (broken) {
    run[length / 3] ^= 0x55;
    run[2 * length / 3] ^= 0x01;
  }
  Append(out, run);
  Append(out, TextBytes(100, seed));
  return out;
}

// Text, noise, runs, far repeats and periodic runs by turns.
ByteVector Mixed(std::size_t size) {
  ByteVector out;
  for (uint32_t part = 0; out.size() < size; ++part) {
    switch (part % 5) {
      case 0:
        Append(out, TextBytes(20000, part));
        break;
      case 1:
        Append(out, RandomBytes(3000, part));
        break;
      case 2:
        Append(out, ByteVector(5000 + part, static_cast<uint8_t>(part)));
        break;
      case 3:
        Append(out, FarRepeats(15000, part));
        break;
      default:
        Append(out, Repeat(RandomBytes(part % 70 + 1, part), 9000));
        break;
    }
  }
  out.resize(size);
  return out;
}

struct TInput {
  std::string Name;
  ByteVector Data;
};

std::vector<TInput> Inputs() {
  std::vector<TInput> inputs = {
      {"empty", {}},
      {"one byte", {0x41}},
      {"two bytes", {0x00, 0xFF}},
      {"three equal bytes", {7, 7, 7}},
      {"three spaces", ByteVector(3, ' ')},
      {"abc", test::Bytes("abc")},
      {"sixty spaces", ByteVector(60, ' ')},
      {"abc x23", Repeat(test::Bytes("abc"), 69)},
      {"4097 spaces", ByteVector(kRing + 1, ' ')},
      {"9000 zeros", ByteVector(9000, 0)},
      {"100000 x AB", ByteVector(100000, 0xAB)},
      {"text 1000", TextBytes(1000, 1)},
      {"text 5000", TextBytes(5000, 2)},
      {"text 70000", TextBytes(70000, 3)},
      {"random 100", RandomBytes(100, 1)},
      {"random 5000", RandomBytes(5000, 2)},
      {"random 70000", RandomBytes(70000, 3)},
      {"far repeats", FarRepeats(60000, 1)},
      {"near-equal strings", NearEqual(40000, 1)},
      {"hash split", HashSplit(20000, 1)},
      {"two letters", FewLetters(20000, 2, 1)},
      {"three letters", FewLetters(20000, 3, 2)},
      {"four letters", FewLetters(20000, 4, 3)},
      {"mixed", Mixed(400000)},
      {"this executable", test::ReadFile("/proc/self/exe", 60000)},
  };
  ByteVector spacesFirst(60, ' ');
  Append(spacesFirst, TextBytes(3000, 4));
  inputs.push_back({"sixty spaces, then text", spacesFirst});
  // Every length around the 60-byte lookahead: the last match is cut, and the positions a short
  // input leaves unfilled are read by the search.
  for (std::size_t n = 1; n <= 130; ++n) {
    inputs.push_back({"text of " + std::to_string(n), TextBytes(n, static_cast<uint32_t>(n))});
  }
  for (std::size_t n = 1; n <= 70; ++n) {
    inputs.push_back({"spaces " + std::to_string(n), ByteVector(n, ' ')});
  }
  // Periodic runs, three times round the ring and more: each string equals the one a period
  // earlier in all 60 bytes and replaces it in its tree; with periods up to 60 the match overlaps
  // the bytes it makes.
  for (std::size_t period = 1; period <= 70; ++period) {
    inputs.push_back(
        {"period " + std::to_string(period), PeriodicRun(period, 3 * kRing + 61 * period, false)});
  }
  for (std::size_t period : {1, 2, 3, 4, 7, 16, 59, 60, 61, 64, 70}) {
    inputs.push_back(
        {"broken period " + std::to_string(period), PeriodicRun(period, 2 * kRing + 999, true)});
  }
  return inputs;
}

// A length of prefix of plain that the two compressors code differently while the prefix one
// byte shorter they code alike, found by halving: a small case to look at.
std::size_t DifferingPrefixLength(const ByteVector& plain) {
  std::size_t same = 0;
  std::size_t differs = plain.size();
  while (differs - same > 1) {
    const std::size_t middle = same + (differs - same) / 2;
    const ByteVector prefix(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(middle));
    if (CompressLzhBytes(prefix) == ReferenceCompressLzh(prefix)) {
      same = middle;
    } else {
      differs = middle;
    }
  }
  return differs;
}

TEST(LzhReference, WritesTheCheckValues) {
  EXPECT_EQ(ReferenceCompressLzh(test::Bytes("abc")), (ByteVector{0xF6, 0xFB, 0xBD, 0xE0}));
  EXPECT_EQ(ReferenceCompressLzh(ByteVector(60, ' ')), (ByteVector{0xC5, 0x1D, 0x80}));
  EXPECT_EQ(ReferenceCompressLzh(Repeat(test::Bytes("abc"), 69)),
            (ByteVector{0xF6, 0xFB, 0xBD, 0xFE, 0xD0, 0x14, 0x78, 0x08}));
  EXPECT_TRUE(ReferenceCompressLzh({}).empty());
}

TEST(LzhReference, CompressLzhWritesTheSameBytesAndTheyExpandBack) {
  std::size_t bytes = 0;
  const std::vector<TInput> inputs = Inputs();
  for (const TInput& input : inputs) {
    bytes += input.Data.size();
    const ByteVector expected = ReferenceCompressLzh(input.Data);
    ASSERT_EQ(ExpandLzhBytes(expected, input.Data.size()), input.Data) << input.Name;
    const ByteVector actual = CompressLzhBytes(input.Data);
    if (actual == expected) continue;
    const auto first =
        std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first;
    ADD_FAILURE() << input.Name << " (" << input.Data.size() << " bytes): CompressLzh wrote "
                  << actual.size() << " bytes, the reference " << expected.size()
                  << "; first difference at byte " << (first - actual.begin()) << "; its first "
                  << DifferingPrefixLength(input.Data)
                  << " bytes differ already, one byte fewer do not";
  }
  RecordProperty("inputs", static_cast<int>(inputs.size()));
  RecordProperty("bytes", static_cast<int>(bytes));
}

// The reference checks its trees and the longest match before coding steps: every step of
// short and tree-stressing inputs, every 13th or 101st of longer ones.
TEST(LzhReference, TreesStaySoundAndEveryMatchIsTheLongest) {
  struct Case {
    const char* name;
    ByteVector data;
    unsigned checkEvery;
  };
  const Case cases[] = {
      {"text 2000", TextBytes(2000, 7), 1},
      {"near-equal strings", NearEqual(6000, 2), 1},
      {"hash split", HashSplit(5000, 2), 1},
      {"two letters", FewLetters(3000, 2, 4), 1},
      {"broken period 61", PeriodicRun(61, kRing + 500, true), 1},
      {"spaces 70", ByteVector(70, ' '), 1},
      {"far repeats", FarRepeats(20000, 2), 13},
      {"mixed", Mixed(60000), 101},
  };
  for (const Case& c : cases) {
    try {
      ReferenceCompressLzh(c.data, c.checkEvery);
    } catch (const std::logic_error& fault) {
      ADD_FAILURE() << c.name << ": " << fault.what();
    }
  }
}

}  // namespace
}  // namespace vo
