#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>

#include "codec/engine.h"
#include "codec/lh5_huffman.h"
#include "codec/lh5_tables.h"
#include "core/exception.h"
#include "core/messages.h"
#include "tests/support/lh5.h"

namespace vo {
namespace {

using Bytes = std::vector<uint8_t>;
using test::CompressLh5Bytes;
using test::ExpandLh5Bytes;
using test::TBitPacker;

TEST(Lh5, CheckValuesBothWays) {
  struct Case {
    const char* plain;
    Bytes stream;
  };
  const Case cases[] = {
      {"A", {0x00, 0x01, 0x00, 0x00, 0x04, 0x10, 0x00}},
      {"abc", {0x00, 0x03, 0x28, 0x08, 0x44, 0xC9, 0x13, 0x58, 0x02, 0x60}},
      {"abcabcabc", {0x00, 0x04, 0x28, 0x05, 0x30, 0x41, 0x37, 0x91, 0x70, 0x21, 0xB0}},
  };
  for (const Case& c : cases) {
    const Bytes plain = Bytes(c.plain, c.plain + std::char_traits<char>::length(c.plain));
    EXPECT_EQ(CompressLh5Bytes(plain), c.stream) << c.plain;
    EXPECT_EQ(ExpandLh5Bytes(c.stream, static_cast<int32_t>(plain.size())), plain) << c.plain;
  }
}

TEST(Lh5, EmptyInputAndZeroCount) {
  EXPECT_TRUE(CompressLh5Bytes({}).empty());
  test::TRecordingStream source(Bytes{0x00, 0x01, 0x00, 0x00, 0x04, 0x10, 0x00});
  test::TRecordingStream sink;
  uint32_t checksum = 1;
  RunCodec(TCodecSettings{}, sink, source, 7, 0, kMethodLh5, checksum, TCodecMode::Expand, false);
  EXPECT_TRUE(source.ReadCalls.empty());
  EXPECT_TRUE(sink.Data().empty());
  EXPECT_EQ(checksum, 0u);
}

TEST(Lh5, ShortStreamUnderTheEngineLimitCannotCompress) {
  try {
    CompressLh5Bytes({0x41}, 0);
    FAIL() << "a 7-byte stream for 1 byte passed the output limit";
  } catch (const EUnableToCompress& e) {
    EXPECT_STREQ(e.what(), kMsgCouldNotCompress);
  }
}

// A block header whose three codes all have the single-symbol form.
TBitPacker& SingleSymbolBlock(TBitPacker& p, unsigned symbols, unsigned symbol, unsigned offset) {
  return p.Put(16, symbols).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, symbol).Put(4, 0).Put(4, offset);
}

Bytes Text(const std::string& s) {
  return {s.begin(), s.end()};
}

TEST(Lh5, HandMadeStreams) {
  struct Case {
    const char* what;
    Bytes stream;
    int32_t count;
    Bytes expanded;
  };
  TBitPacker spaces;
  SingleSymbolBlock(spaces, 1, 256, 0);
  TBitPacker longest;
  SingleSymbolBlock(longest, 1, 509, 1);
  TBitPacker wrapCount;
  SingleSymbolBlock(wrapCount, 0, 'B', 0);
  SingleSymbolBlock(wrapCount, 1, 'C', 0);
  TBitPacker zeroOffsetCode;  // offset lengths all 0: fine while no match asks for one
  zeroOffsetCode.Put(16, 4).Put(5, 0).Put(5, 0).Put(9, 0).Put(9, 'A').Put(4, 1).Put(3, 0);
  TBitPacker skipAtThree;  // the 2-bit skip field follows the third length even when it is the last
  skipAtThree.Put(16, 1).Put(5, 3).Put(3, 1).Put(3, 1).Put(3, 0).Put(2, 3);
  skipAtThree.Put(9, 0).Put(9, 'Z').Put(4, 0).Put(4, 0);
  TBitPacker longCount;  // 20 lengths announced for 19 symbols: all are read, the 20th unused
  longCount.Put(16, 1).Put(5, 20).Put(3, 1).Put(3, 1).Put(3, 0).Put(2, 0);
  for (int i = 3; i < 19; ++i) longCount.Put(3, 0);
  longCount.Put(3, 5).Put(9, 0).Put(9, 'Y').Put(4, 0).Put(4, 0);
  Bytes afterCount(65536, 'B');
  afterCount.push_back('C');
  const Case cases[] = {
      {"a match before the first byte copies spaces", spaces.Finish(), 3, Text("   ")},
      {"symbol 509 copies 256 bytes", longest.Finish(), 256, Bytes(256, ' ')},
      {"a match stops at the count", longest.Finish(), 1, Bytes(1, ' ')},
      {"a symbol count of 0 means 65536 symbols", wrapCount.Finish(), 65537, afterCount},
      {"an all-zero offset code without matches", zeroOffsetCode.Finish(), 4, Text("AAAA")},
      {"a skip field after a count field of 3", skipAtThree.Finish(), 1, Text("Z")},
      {"a count field above the alphabet size", longCount.Finish(), 1, Text("Y")},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandLh5Bytes(c.stream, c.count), c.expanded) << c.what;
}

TEST(Lh5, DamagedTablesRaiseBadDecodeTable) {
  struct Case {
    const char* what;
    TBitPacker stream;
  };
  std::vector<Case> cases;
  auto add = [&cases](const char* what) -> TBitPacker& {
    cases.push_back({what, TBitPacker()});
    return cases.back().stream.Put(16, 1);
  };
  add("code-length symbol 19 in the single-symbol form").Put(5, 0).Put(5, 19);
  add("literal/length symbol 510 in the single-symbol form")
      .Put(5, 0)
      .Put(5, 0)
      .Put(9, 0)
      .Put(9, 510);
  add("offset symbol 14 in the single-symbol form")
      .Put(5, 0)
      .Put(5, 0)
      .Put(9, 0)
      .Put(9, 'A')
      .Put(4, 0)
      .Put(4, 14);
  // 1, 1 and 17 sum to 65536 when a length above 16 is left out of the sum.
  add("a length of 17").Put(5, 3).Put(3, 1).Put(3, 1).Put(3, 7).Put(10, 0x3FF).Put(1, 0).Put(2, 0);
  add("four lengths of 1 sum to 131072")
      .Put(5, 4)
      .Put(3, 1)
      .Put(3, 1)
      .Put(3, 1)
      .Put(2, 0)
      .Put(3, 1);
  add("a single length of 1 leaves the code incomplete").Put(5, 1).Put(3, 1);
  // Code-length code: symbol 2 = '0', symbol 3 = '1'; then a run of 531 zero lengths.
  add("a zero run past entry 509")
      .Put(5, 4)
      .Put(3, 0)
      .Put(3, 0)
      .Put(3, 1)
      .Put(2, 0)
      .Put(3, 1)
      .Put(9, 510)
      .Put(1, 0)
      .Put(9, 511);
  add("a lookup in an all-zero code-length code").Put(5, 1).Put(3, 0).Put(9, 1);
  add("a lookup in an all-zero literal/length code")
      .Put(5, 0)
      .Put(5, 0)
      .Put(9, 3)
      .Put(4, 0)
      .Put(4, 0);
  add("a lookup in an all-zero offset code")
      .Put(5, 0)
      .Put(5, 0)
      .Put(9, 0)
      .Put(9, 256)
      .Put(4, 1)
      .Put(3, 0);
  for (Case& c : cases) {
    try {
      ExpandLh5Bytes(c.stream.Finish(), 8);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const ELZHBadDecodeTable& e) {
      EXPECT_STREQ(e.what(), kMsgBadDecodeTable) << c.what;
    } catch (const Exception& e) {
      ADD_FAILURE() << c.what << ": " << e.ClassName();
    }
  }
}

// Round trips through both directions, with the stream size as a plausibility check.
TEST(Lh5, RoundTrips) {
  struct Case {
    std::string what;
    Bytes plain;
  };
  std::vector<Case> cases = {
      {"one byte", {0x00}},
      {"two bytes", {0xFF, 0x00}},
      {"random", test::RandomBytes(100000, 1)},
      {"text over several blocks", test::TextBytes(200000, 2)},
      {"this executable", test::ReadFile("/proc/self/exe", 300000)},
      {"one repeated byte", Bytes(70000, 0x55)},
      {"zero runs of 19 and 20 lengths", test::ZeroRunBytes(30000, 6)},
  };
  // The text slides after the first 7936 bytes and then every 8192.
  for (std::size_t slide : {7936u, 7936u + 8192u, 7936u + 2 * 8192u}) {
    for (int delta : {-1, 0, 1}) {
      const std::size_t size = slide + static_cast<std::size_t>(static_cast<int>(delta));
      cases.push_back({"text of " + std::to_string(size), test::TextBytes(size, 3)});
      cases.push_back({"repeats of " + std::to_string(size), Bytes(size, 'z')});
    }
  }
  // Refills that end exactly at the input's end.
  cases.push_back({"text of 8192", test::TextBytes(8192, 4)});
  cases.push_back({"text of 16384", test::TextBytes(16384, 5)});
  for (const Case& c : cases) {
    const Bytes stream = CompressLh5Bytes(c.plain);
    EXPECT_EQ(ExpandLh5Bytes(stream, static_cast<int32_t>(c.plain.size())), c.plain) << c.what;
    EXPECT_LE(stream.size(), c.plain.size() + c.plain.size() / 16 + 64) << c.what;
  }
}

// Counts that grow like the Fibonacci numbers give a Huffman tree as deep as the symbols are
// many, far beyond 16 levels.
TEST(Lh5, HuffmanLengthsAreLimitedTo16Bits) {
  constexpr int kSymbols = 22;  // the counts still sum below 65536
  const lh5::TLh5StorageHold storage = lh5::AcquireLh5Storage(true);
  lh5::TLh5Huffman huffman(*storage);
  std::array<uint16_t, 2 * kSymbols> counts{};
  counts[0] = counts[1] = 1;
  for (int i = 2; i < kSymbols; ++i)
    counts[i] = static_cast<uint16_t>(counts[i - 1] + counts[i - 2]);
  const auto original = counts;
  std::array<uint8_t, kSymbols> length{};
  std::array<uint16_t, kSymbols> code{};
  const int root = huffman.BuildHuffmanCode(kSymbols, counts.data(), length.data(), code.data());
  EXPECT_GE(root, kSymbols);
  uint32_t kraft = 0;
  for (int i = 0; i < kSymbols; ++i) {
    ASSERT_GE(length[i], 1) << i;
    ASSERT_LE(length[i], 16) << i;
    kraft += 1u << (16 - length[i]);
  }
  EXPECT_EQ(kraft, 65536u);
  EXPECT_EQ(*std::max_element(length.begin(), length.end()), 16);
  for (int i = 0; i < kSymbols; ++i) {
    for (int j = 0; j < kSymbols; ++j) {
      if (original[i] < original[j]) {
        EXPECT_GE(length[i], length[j]) << i << " " << j;
      }
      if (i == j || length[i] > length[j]) continue;
      const int shift = 16 - length[i];
      EXPECT_NE(code[i] >> shift, code[j] >> shift) << "code " << i << " is a prefix of " << j;
      if (length[i] == length[j] && i < j) {
        EXPECT_LT(code[i], code[j]) << "canonical order";
      }
    }
  }
}

TEST(Lh5, HuffmanSmallCases) {
  const lh5::TLh5StorageHold storage = lh5::AcquireLh5Storage(true);
  lh5::TLh5Huffman huffman(*storage);
  std::array<uint8_t, 6> length{};
  std::array<uint16_t, 6> code{};
  std::array<uint16_t, 12> none{};
  EXPECT_EQ(huffman.BuildHuffmanCode(6, none.data(), length.data(), code.data()), 0);
  std::array<uint16_t, 12> one{0, 0, 0, 0, 9, 0};
  EXPECT_EQ(huffman.BuildHuffmanCode(6, one.data(), length.data(), code.data()), 4);
  EXPECT_EQ(length, (std::array<uint8_t, 6>{}));
  std::array<uint16_t, 12> even{3, 3, 0, 3, 3, 0};
  huffman.BuildHuffmanCode(6, even.data(), length.data(), code.data());
  EXPECT_EQ(length, (std::array<uint8_t, 6>{2, 2, 0, 2, 2, 0}));
  EXPECT_EQ(code[0], 0x0000);
  EXPECT_EQ(code[1], 0x4000);
  EXPECT_EQ(code[3], 0x8000);
  EXPECT_EQ(code[4], 0xC000);
}

// A child lookup checks only the parent, so two children of one node in one chain would be
// confused: every inner node must have its own slot for each byte.
TEST(Lh5, ChildSlotsOfOneNodeNeverShareAChain) {
  constexpr int kInnerNodes = 8191;
  int sharedNodes = 0;
  for (int q = 1; q <= kInnerNodes; ++q) {
    std::array<int, 256> slots{};
    for (int b = 0; b < 256; ++b) slots[b] = lh5::TrieSlot(q, b);
    std::sort(slots.begin(), slots.end());
    if (std::adjacent_find(slots.begin(), slots.end()) != slots.end()) ++sharedNodes;
    EXPECT_GE(slots.front(), 0);
    EXPECT_LT(slots.back(), 1 << lh5::kTrieSlotBits);
  }
  EXPECT_EQ(sharedNodes, 0);
}

// The engine scrambles the stream under a key; expansion with the key restores the input.
TEST(Lh5, KeyedRoundTrip) {
  const Bytes plain = test::TextBytes(30000, 9);
  TCodecSettings settings;
  settings.Key = -0x12345679;
  settings.CompressReserve = test::kNoCompressLimit;
  test::TRecordingStream source(plain);
  test::TRecordingStream packed;
  uint32_t checksum = 0;
  const int32_t size = RunCodec(settings, packed, source, static_cast<int32_t>(plain.size()), 0,
                                kMethodLh5, checksum, TCodecMode::Compress, false);
  EXPECT_NE(packed.Data(), CompressLh5Bytes(plain));
  test::TRecordingStream stream(packed.Data());
  test::TRecordingStream expanded;
  RunCodec(settings, expanded, stream, size, static_cast<int32_t>(plain.size()), kMethodLh5,
           checksum, TCodecMode::Expand, true);
  EXPECT_EQ(expanded.Data(), plain);
  EXPECT_EQ(checksum, test::ByteSum(plain));
}

// 1000 equal bytes parse into one literal, three 256-byte matches and one of 231, all at offset 0.
// The stream below is worked out by hand from those five items: literal/length code 509 = 0,
// 'q' = 10, 484 = 11; code-length code 2 = 0, 3 = 10, 4 = 11; offset code single symbol 0.
TEST(Lh5, RepeatedByteStreamIsExact) {
  TBitPacker p;
  p.Put(16, 5);
  p.Put(5, 5).Put(3, 0).Put(3, 0).Put(3, 1).Put(2, 0).Put(3, 2).Put(3, 2);
  p.Put(9, 510).Put(1, 0).Put(9, 113 - 20).Put(2, 3);  // 113 zeros, then 'q' has length 2
  p.Put(1, 0).Put(9, 370 - 20).Put(2, 3);              // 370 zeros, then 484 has length 2
  p.Put(1, 0).Put(9, 24 - 20).Put(2, 2);               // 24 zeros, then 509 has length 1
  p.Put(4, 0).Put(4, 0);
  p.Put(2, 2).Put(1, 0).Put(1, 0).Put(1, 0).Put(2, 3);
  const Bytes plain(1000, 'q');
  EXPECT_EQ(CompressLh5Bytes(plain), p.Finish());
}

// Two-byte counters never repeat three bytes within the window, so every item is a literal and
// blocks close after 1818 groups of eight.
TEST(Lh5, AllLiteralBlocksHold14544Items) {
  Bytes plain;
  for (unsigned k = 0; k < 20000; ++k) {
    plain.push_back(static_cast<uint8_t>(k >> 8));
    plain.push_back(static_cast<uint8_t>(k));
  }
  const Bytes stream = CompressLh5Bytes(plain);
  ASSERT_GE(stream.size(), 2u);
  EXPECT_EQ(stream[0] << 8 | stream[1], 14544);
  EXPECT_EQ(ExpandLh5Bytes(stream, static_cast<int32_t>(plain.size())), plain);
}

// Literals drawn with very skewed counts, so that the block codes need the 16-bit limit.
TEST(Lh5, SkewedInputRoundTrips) {
  Bytes plain;
  std::mt19937 random(7);
  uint32_t weight = 1;
  uint32_t previous = 1;
  for (int symbol = 0; symbol < 24; ++symbol) {
    plain.insert(plain.end(), weight, static_cast<uint8_t>(symbol * 11));
    const uint32_t next = weight + previous;
    previous = weight;
    weight = next;
  }
  std::shuffle(plain.begin(), plain.end(), random);
  const Bytes stream = CompressLh5Bytes(plain);
  EXPECT_EQ(ExpandLh5Bytes(stream, static_cast<int32_t>(plain.size())), plain);
}

}  // namespace
}  // namespace vo
