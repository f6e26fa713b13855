#include <gtest/gtest.h>

#include "codec/engine.h"
#include "codec/rle.h"
#include "tests/support/streams.h"

namespace vo {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Repeat(uint8_t b, std::size_t n) {
  return Bytes(n, b);
}
Bytes Join(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes Expand(const Bytes& stored, int32_t key = 0, bool unscramble = false) {
  test::TRecordingStream source(stored);
  test::TRecordingStream sink;
  TCodecSettings settings;
  settings.Key = key;
  uint32_t checksum = 0;
  RunCodec(settings, sink, source, static_cast<int32_t>(stored.size()), 0, kMethodRle, checksum,
           TCodecMode::Expand, unscramble);
  EXPECT_EQ(checksum, test::ByteSum(sink.Data()));
  return sink.Data();
}

TEST(Rle, EscapeRules) {
  struct Case {
    const char* what;
    Bytes stored;
    Bytes expanded;
  };
  const Case cases[] = {
      {"empty", {}, {}},
      {"run of five", {0x41, 0x94, 0x05}, Repeat(0x41, 5)},
      {"count 1 adds nothing", {0x41, 0x94, 0x01}, {0x41}},
      {"count 0 is a literal escape", {0x41, 0x94, 0x00}, {0x41, 0x94}},
      {"previous starts at 0", {0x94, 0x03}, {0x00, 0x00}},
      {"escape leaves 0x94 as previous",
       {0x41, 0x94, 0x05, 0x94, 0x03},
       Join(Repeat(0x41, 5), {0x94, 0x94})},
      {"run of escapes", {0x94, 0x00, 0x94, 0x04}, Repeat(0x94, 4)},
      {"cut after 94 00", {0x94, 0x00}, {0x94}},
      {"longest run", {0x07, 0x94, 0xFF}, Repeat(0x07, 255)},
      {"literals", {1, 2, 3, 0x93, 0x95}, {1, 2, 3, 0x93, 0x95}},
  };
  for (const Case& c : cases) EXPECT_EQ(Expand(c.stored), c.expanded) << c.what;
}

TEST(Rle, ScrambledInputIsUnscrambledBeforeExpansion) {
  const int32_t key = 0x5A3C1F77;
  Bytes stored = {0x41, 0x94, 0x05, 0x42, 0x94, 0x00};
  Bytes scrambled = stored;
  for (std::size_t i = 0; i < scrambled.size(); ++i)
    scrambled[i] ^= static_cast<uint8_t>(static_cast<uint32_t>(key) >> (8 * (i % 4)));
  const Bytes expected = Join(Repeat(0x41, 5), {0x42, 0x94});
  EXPECT_EQ(Expand(scrambled, key, true), expected);
  EXPECT_NE(Expand(scrambled, key, false), expected);
}

TEST(Rle, OutputAcrossSeveralSinkBuffers) {
  Bytes stored;
  for (int i = 0; i < 100; ++i) stored.insert(stored.end(), {static_cast<uint8_t>(i), 0x94, 0xFF});
  const Bytes out = Expand(stored);
  ASSERT_EQ(out.size(), 25500u);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(out[static_cast<std::size_t>(i) * 255 + 254], i);
}

}  // namespace
}  // namespace vo
