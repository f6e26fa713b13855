#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "codec/engine.h"
#include "codec/lzh.h"
#include "codec/lzh_bits.h"
#include "codec/lzh_model.h"
#include "core/exception.h"
#include "tests/support/bytes.h"
#include "tests/support/lha.h"
#include "tests/support/scratch.h"
#include "tests/support/streams.h"

namespace vo {
namespace {

using Bytes = std::vector<uint8_t>;
using test::RandomBytes;
using test::TextBytes;
using test::TRecordingStream;

// Room for any output: the compressed stream may be longer than its input.
int32_t GenerousReserve(std::size_t size) {
  return -static_cast<int32_t>(2 * size + 1024);
}

Bytes Compress(const Bytes& plain) {
  TRecordingStream source(plain);
  TRecordingStream sink;
  TCodecSettings settings;
  settings.CompressReserve = GenerousReserve(plain.size());
  uint32_t checksum = 0;
  const int32_t size = RunCodec(settings, sink, source, static_cast<int32_t>(plain.size()), 0,
                                kMethodLzh, checksum, TCodecMode::Compress, false);
  EXPECT_EQ(checksum, test::ByteSum(plain));
  EXPECT_EQ(static_cast<std::size_t>(size), sink.Data().size());
  return sink.Data();
}

Bytes Expand(const Bytes& packed, int32_t count) {
  TRecordingStream source(packed);
  TRecordingStream sink;
  uint32_t checksum = 0;
  RunCodec(TCodecSettings{}, sink, source, static_cast<int32_t>(packed.size()), count, kMethodLzh,
           checksum, TCodecMode::Expand, false);
  EXPECT_EQ(checksum, test::ByteSum(sink.Data()));
  return sink.Data();
}

Bytes Repeat(const std::string& text, int times) {
  Bytes out;
  for (int i = 0; i < times; ++i) out.insert(out.end(), text.begin(), text.end());
  return out;
}

Bytes OwnExecutable(std::size_t offset, std::size_t n) {
  std::ifstream file("/proc/self/exe", std::ios::binary);
  Bytes all((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (all.size() < offset + n) return all;
  return Bytes(all.begin() + static_cast<std::ptrdiff_t>(offset),
               all.begin() + static_cast<std::ptrdiff_t>(offset + n));
}

TEST(Lzh, CheckValuesBothWays) {
  struct Case {
    const char* what;
    Bytes plain;
    Bytes packed;
  };
  const Case cases[] = {
      {"abc", test::Bytes("abc"), {0xF6, 0xFB, 0xBD, 0xE0}},
      {"sixty spaces", Bytes(60, ' '), {0xC5, 0x1D, 0x80}},
      {"abc x23", Repeat("abc", 23), {0xF6, 0xFB, 0xBD, 0xFE, 0xD0, 0x14, 0x78, 0x08}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Expand(c.packed, static_cast<int32_t>(c.plain.size())), c.plain) << c.what;
    EXPECT_EQ(Compress(c.plain), c.packed) << c.what;
  }
}

TEST(Lzh, CompressionLongerThanItsInputIsRefusedWithoutReserve) {
  TRecordingStream source(test::Bytes("abc"));
  TRecordingStream sink;
  uint32_t checksum = 0;
  EXPECT_THROW(RunCodec(TCodecSettings{}, sink, source, 3, 0, kMethodLzh, checksum,
                        TCodecMode::Compress, false),
               EUnableToCompress);
  EXPECT_TRUE(sink.Data().empty());
}

TEST(Lzh, CountOfZeroOrLessReadsAndWritesNothing) {
  for (const int32_t count : {0, -1, -60}) {
    TRecordingStream source(Bytes{0xC5, 0x1D, 0x80});
    TRecordingStream sink;
    uint32_t checksum = 7;
    RunCodec(TCodecSettings{}, sink, source, 3, count, kMethodLzh, checksum, TCodecMode::Expand,
             false);
    EXPECT_TRUE(source.ReadCalls.empty()) << count;
    EXPECT_TRUE(sink.Data().empty()) << count;
    EXPECT_EQ(checksum, 0u) << count;
  }
}

TEST(Lzh, RoundTrips) {
  Bytes spacesFirst(60, ' ');
  const Bytes text = TextBytes(5000, 4);
  spacesFirst.insert(spacesFirst.end(), text.begin(), text.end());
  struct Case {
    const char* what;
    Bytes plain;
    double mostRatio;  // compressed size over input size must not exceed this
  };
  const Case cases[] = {
      {"empty", {}, 0},
      {"one byte", {0x41}, 2},
      {"two bytes", {0x00, 0xFF}, 2},
      {"three equal bytes", {7, 7, 7}, 2},
      {"random", RandomBytes(100000, 1), 1.2},
      {"text", TextBytes(300000, 2), 0.5},
      {"executable", OwnExecutable(4096, 200000), 0.9},
      {"one repeated byte", Bytes(100000, 0xAB), 0.025},
      {"sixty spaces first", spacesFirst, 0.5},
      {"4097 spaces", Bytes(4097, ' '), 0.05},
  };
  for (const Case& c : cases) {
    const Bytes packed = Compress(c.plain);
    EXPECT_LE(static_cast<double>(packed.size()), c.mostRatio * static_cast<double>(c.plain.size()))
        << c.what;
    EXPECT_EQ(Expand(packed, static_cast<int32_t>(c.plain.size())), c.plain) << c.what;
  }
}

// The bytes that write(bits) gives a bit writer on a fresh run, its last byte flushed.
template <class Write>
Bytes WrittenBits(Write write) {
  TRecordingStream none;
  TRecordingStream packed;
  TCodecRun run(TCodecSettings{}, packed, none, 0, TCodecMode::Expand, false);
  lzh::TLzhBitWriter bits(run);
  write(bits);
  bits.FlushBits();
  run.FlushSink();
  return packed.Data();
}

// A bit reader over the given bytes, with the run and streams it reads through.
struct TBitSource {
  explicit TBitSource(const Bytes& packed)
      : Source(packed),
        Run(TCodecSettings{}, Sink, Source, static_cast<int32_t>(packed.size()), TCodecMode::Expand,
            false),
        Bits(Run) {}
  TRecordingStream Source;
  TRecordingStream Sink;
  TCodecRun Run;
  lzh::TLzhBitReader Bits;
};

// The items of a stream: a literal byte, or a match as (length, offset).
struct TItem {
  bool match;
  unsigned value;
  unsigned offset;
  bool operator==(const TItem&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TItem& item) {
  if (!item.match) return out << "'" << static_cast<char>(item.value) << "'";
  return out << "match(" << item.value << ", " << item.offset << ")";
}

std::vector<TItem> Items(const Bytes& packed, std::size_t count) {
  TBitSource source(packed);
  lzh::TLzhBitReader& bits = source.Bits;
  lzh::TLzhModel model;
  model.InitLzhModel();
  std::vector<TItem> items;
  for (std::size_t produced = 0; produced < count;) {
    const unsigned s = lzh::ReadLzhSymbol(model, bits);
    if (s < lzh::kLiteralCount) {
      items.push_back({false, s, 0});
      ++produced;
    } else {
      items.push_back({true, lzh::MatchLengthOf(s), lzh::ReadMatchOffset(bits)});
      produced += lzh::MatchLengthOf(s);
    }
  }
  return items;
}

// The stream of the given items, written from a fresh model.
Bytes Stream(const std::vector<TItem>& items) {
  return WrittenBits([&](lzh::TLzhBitWriter& bits) {
    lzh::TLzhModel model;
    model.InitLzhModel();
    for (const TItem& item : items) {
      if (!item.match) {
        lzh::WriteLzhSymbol(model, bits, item.value);
      } else {
        lzh::WriteLzhSymbol(model, bits, lzh::MatchSymbol(item.value));
        lzh::WriteMatchOffset(bits, item.offset);
      }
    }
  });
}

TEST(Lzh, ExpanderCopiesMatchesByteByByteFromTheRing) {
  const auto lit = [](unsigned b) { return TItem{false, b, 0}; };
  const auto match = [](unsigned length, unsigned offset) { return TItem{true, length, offset}; };
  std::vector<TItem> oldest;
  Bytes oldestPlain;
  for (unsigned i = 0; i < 4100; ++i) {
    oldest.push_back(lit(i % 251));
    oldestPlain.push_back(static_cast<uint8_t>(i % 251));
  }
  oldest.push_back(match(3, 4095));
  for (std::size_t k = 0; k < 3; ++k) oldestPlain.push_back(oldestPlain[oldestPlain.size() - 4096]);
  struct Case {
    const char* what;
    std::vector<TItem> items;
    int32_t count;
    Bytes plain;
  };
  const Case cases[] = {
      {"a match into the space fill", {match(60, 59)}, 60, Bytes(60, ' ')},
      {"the last match stops at the count", {match(60, 59)}, 10, Bytes(10, ' ')},
      {"offset 0 with symbol 256 repeats the last byte",
       {lit('a'), match(3, 0)},
       4,
       test::Bytes("aaaa")},
      {"offset 1 repeats the last two bytes",
       {lit('a'), lit('b'), match(5, 1)},
       7,
       test::Bytes("abababa")},
      {"offset 4095 copies the oldest byte", oldest, 4103, oldestPlain},
  };
  for (const Case& c : cases) EXPECT_EQ(Expand(Stream(c.items), c.count), c.plain) << c.what;
}

TEST(Lzh, MatchesReachBackAlmostAWindowAndAcrossTheRingEnd) {
  // A random block, random filler, and the block again 4030 bytes after its first copy: it
  // crosses position 4095 of the ring and is coded with offsets of about 4030.
  Bytes plain = RandomBytes(5000, 7);
  std::copy(plain.begin(), plain.begin() + 900, plain.begin() + 4030);
  const Bytes packed = Compress(plain);
  EXPECT_EQ(Expand(packed, static_cast<int32_t>(plain.size())), plain);
  unsigned longest = 0;
  for (const TItem& item : Items(packed, plain.size()))
    if (item.match && item.offset >= 4000) longest = std::max(longest, item.value);
  EXPECT_EQ(longest, 60u);
  EXPECT_LT(packed.size(), 4500u);
}

TEST(Lzh, ParseIsGreedyAndPrefersTheNearestMatchMetOnTheSearchPath) {
  const auto lit = [](char c) { return TItem{false, static_cast<uint8_t>(c), 0}; };
  const auto match = [](unsigned length, unsigned offset) { return TItem{true, length, offset}; };
  struct Case {
    const char* plain;
    std::vector<TItem> items;
  };
  const Case cases[] = {
      // "abcdY" lies to the right of "abcdX", off the path of the last "abcd": the farther one
      // is coded.
      {"abcdXabcdYabcd",
       {lit('a'), lit('b'), lit('c'), lit('d'), lit('X'), match(4, 4), lit('Y'), match(4, 9)}},
      // Here the search passes both copies and takes the nearer.
      {"abcdYabcdXabcd",
       {lit('a'), lit('b'), lit('c'), lit('d'), lit('Y'), match(4, 4), lit('X'), match(4, 4)}},
      // An overlapping match, cut where the input ends.
      {"xyzxyzxy", {lit('x'), lit('y'), lit('z'), match(5, 2)}},
      // Offset 0 repeats the last byte.
      {"qqqqqqq", {lit('q'), match(6, 0)}},
      // Leading spaces come from the space fill; the nearest of its equal strings wins.
      {"    z", {match(4, 0), lit('z')}},
  };
  for (const Case& c : cases) {
    const Bytes plain = test::Bytes(c.plain);
    EXPECT_EQ(Items(Compress(plain), plain.size()), c.items) << c.plain;
  }
}

TEST(LzhModel, InitialCodes) {
  lzh::TLzhModel model;
  model.InitLzhModel();
  for (unsigned s = 0; s < lzh::kSymbolCount; ++s)
    EXPECT_EQ(model.CodeLength(s), s < 116 ? 9u : 8u) << s;
  // The codes themselves, each written from a fresh model: 116 is 00000000, 313 is 11000101,
  // 0 is 110001100 and 115 is 111111111.
  struct Case {
    unsigned symbol;
    Bytes bytes;
  };
  const Case cases[] = {{116, {0x00}},     {117, {0x01}},     {313, {0xC5}},
                        {0, {0xC6, 0x00}}, {1, {0xC6, 0x80}}, {115, {0xFF, 0x80}}};
  for (const Case& c : cases) {
    const Bytes written = WrittenBits([&](lzh::TLzhBitWriter& bits) {
      lzh::TLzhModel fresh;
      fresh.InitLzhModel();
      lzh::WriteLzhSymbol(fresh, bits, c.symbol);
    });
    EXPECT_EQ(written, c.bytes) << c.symbol;
  }
}

TEST(LzhModel, RebuildsInTheUpdateOfThe32455thSymbolAndWheneverTheRootIsBackAt0x8000) {
  lzh::TLzhModel model;
  model.InitLzhModel();
  for (int i = 0; i < 32454; ++i) model.UpdateLzhModel(0);
  EXPECT_EQ(model.NodeWeight[lzh::kRoot], 0x8000);
  // Symbol 0 counts 32455, halved to 16228; the 313 others keep 1; then the update adds one.
  model.UpdateLzhModel(0);
  EXPECT_EQ(model.NodeWeight[lzh::kRoot], 16228 + 313 + 1);
  EXPECT_EQ(model.CodeLength(0), 1u);
  for (int i = 0; i < 0x8000 - 16542; ++i) model.UpdateLzhModel(0);
  EXPECT_EQ(model.NodeWeight[lzh::kRoot], 0x8000);
  model.UpdateLzhModel(5);
  EXPECT_EQ(model.NodeWeight[lzh::kRoot], 16228 + 313 + 1);
  EXPECT_EQ(model.NodeWeight[model.NodeParent[lzh::kLeafBase + 5]], 2);
  // The weights still rise from each position to the next.
  for (unsigned p = 0; p < lzh::kNodeCount; ++p)
    EXPECT_LE(model.NodeWeight[p], model.NodeWeight[p + 1]) << p;
}

// The model update as written out plainly: one node at a time in the scan for the last lighter
// node, and the rebuild; the model's own update must keep the same tree.
struct TPlainModel {
  std::array<uint16_t, lzh::kNodeCount + 1> Weight;
  std::array<uint16_t, lzh::kNodeCount> Child;
  std::array<uint16_t, lzh::kNodeCount + lzh::kSymbolCount> Parent;

  explicit TPlainModel(const lzh::TLzhModel& fresh) {
    std::copy_n(fresh.NodeWeight.begin(), Weight.size(), Weight.begin());
    Child = fresh.NodeChild;
    std::copy_n(fresh.NodeParent.begin(), Parent.size(), Parent.begin());
  }

  void Link(unsigned position, unsigned m) {
    Parent[m] = static_cast<uint16_t>(position);
    if (m < lzh::kLeafBase) Parent[m + 1] = static_cast<uint16_t>(position);
  }

  void Rebuild() {
    unsigned j = 0;
    for (unsigned p = 0; p < lzh::kNodeCount; ++p) {
      if (Child[p] < lzh::kLeafBase) continue;
      Weight[j] = static_cast<uint16_t>((Weight[p] + 1u) / 2);
      Child[j++] = Child[p];
    }
    for (unsigned n = lzh::kSymbolCount, i = 0; n < lzh::kNodeCount; ++n, i += 2) {
      const unsigned f = Weight[i] + Weight[i + 1];
      unsigned k = n;
      while (f < Weight[k - 1]) --k;
      for (unsigned m = n; m > k; --m) {
        Weight[m] = Weight[m - 1];
        Child[m] = Child[m - 1];
      }
      Weight[k] = static_cast<uint16_t>(f);
      Child[k] = static_cast<uint16_t>(i);
    }
    for (unsigned p = 0; p < lzh::kNodeCount; ++p) Link(p, Child[p]);
  }

  void Update(unsigned s) {
    if (Weight[lzh::kRoot] == 0x8000) Rebuild();
    unsigned p = Parent[lzh::kLeafBase + s];  // the leaf may sit at position 0
    do {
      const unsigned k = ++Weight[p];
      if (k > Weight[p + 1]) {
        unsigned q = p + 1;
        while (Weight[q + 1] < k) ++q;
        std::swap(Weight[p], Weight[q]);
        std::swap(Child[p], Child[q]);
        Link(p, Child[p]);
        Link(q, Child[q]);
        p = q;
      }
      p = Parent[p];
    } while (p != 0);
  }
};

// The positions the code of s passes through, from the root's child down to the leaf.
unsigned CodePath(const lzh::TLzhModel& model, unsigned s,
                  std::array<uint16_t, lzh::kLongestCode>& path) {
  std::array<uint16_t, lzh::kLongestCode> up;
  unsigned depth = 0;
  for (unsigned p = model.NodeParent[lzh::kLeafBase + s]; p != lzh::kRoot; p = model.NodeParent[p])
    up[depth++] = static_cast<uint16_t>(p);
  std::reverse_copy(up.begin(), up.begin() + depth, path.begin());
  return depth;
}

TEST(LzhModel, UpdateKeepsTheTreeOfAPlainScanThroughRebuilds) {
  enum class TWay { Parents, WatchedPath };
  // Skewed symbols whose favourites change, so weight blocks of every length arise, long runs
  // of equal weights after each rebuild among them. Each way of updating keeps the same tree.
  for (TWay way : {TWay::Parents, TWay::WatchedPath}) {
    for (unsigned seed : {1u, 2u, 3u}) {
      SCOPED_TRACE(testing::Message() << "way " << static_cast<int>(way) << " seed " << seed);
      lzh::TLzhModel model;
      model.InitLzhModel();
      TPlainModel plain(model);
      std::mt19937 gen(seed);
      unsigned rebuilds = 0;
      std::array<uint16_t, lzh::kLongestCode> path;
      for (int n = 0; n < 120000; ++n) {
        const unsigned base = (n / 5000) * 37 % lzh::kSymbolCount;
        const unsigned spread = 1u << (gen() % 9);
        const unsigned s = (base + gen() % spread) % lzh::kSymbolCount;
        if (plain.Weight[lzh::kRoot] == 0x8000) ++rebuilds;
        const unsigned depth = CodePath(model, s, path);
        ASSERT_EQ(depth, model.CodeLength(s));
        if (way == TWay::Parents)
          model.UpdateLzhModel(s);
        else
          model.UpdateWatchedModel(s, path.data(), depth);
        plain.Update(s);
        ASSERT_EQ(model.NodeParent[lzh::kLeafBase + s], plain.Parent[lzh::kLeafBase + s]) << n;
        if (n % 1000 != 999) continue;
        ASSERT_TRUE(std::equal(plain.Weight.begin(), plain.Weight.end(), model.NodeWeight.begin()));
        ASSERT_EQ(model.NodeChild, plain.Child) << n;
        // The model's scratch entry after the leaves holds nothing to compare.
        ASSERT_TRUE(std::equal(plain.Parent.begin(), plain.Parent.end(), model.NodeParent.begin()))
            << n;
      }
      EXPECT_GE(rebuilds, 3u);
    }
  }
}

TEST(LzhModel, CodesLongerThan16BitsAreWrittenInTwoPiecesAndReadBack) {
  // Eight symbols counted in Fibonacci proportions, heaviest first, push the rare ones 17
  // levels down.
  lzh::TLzhModel model;
  model.InitLzhModel();
  unsigned fib[20] = {1, 1};
  for (int k = 2; k < 20; ++k) fib[k] = fib[k - 1] + fib[k - 2];
  for (unsigned k = 19; k >= 12; --k)
    for (unsigned c = 0; c < fib[k]; ++c) model.UpdateLzhModel(k);
  unsigned deepest = 0;
  for (unsigned s = 0; s < lzh::kSymbolCount; ++s)
    if (model.CodeLength(s) > model.CodeLength(deepest)) deepest = s;
  ASSERT_GT(model.CodeLength(deepest), 16u);

  const std::vector<unsigned> symbols = {deepest, 19, deepest, 0, 313, deepest, 12, 200, deepest};
  lzh::TLzhModel writer = model;
  const Bytes packed = WrittenBits([&](lzh::TLzhBitWriter& bits) {
    for (unsigned s : symbols) lzh::WriteLzhSymbol(writer, bits, s);
  });
  lzh::TLzhModel reader = model;
  TBitSource source(packed);
  for (unsigned s : symbols) EXPECT_EQ(lzh::ReadLzhSymbol(reader, source.Bits), s);
}

TEST(LzhOffsets, CodeTableAndEveryOffsetReadsBack) {
  struct Case {
    unsigned upper, code, length;
  };
  const Case cases[] = {{0, 0x00, 3},  {1, 0x20, 4},  {3, 0x40, 4},  {4, 0x50, 5},
                        {11, 0x88, 5}, {12, 0x90, 6}, {23, 0xBC, 6}, {24, 0xC0, 7},
                        {47, 0xEE, 7}, {48, 0xF0, 8}, {63, 0xFF, 8}};
  for (const Case& c : cases) {
    EXPECT_EQ(lzh::OffsetCodeTable[c.upper].Code, c.code) << c.upper;
    EXPECT_EQ(lzh::OffsetCodeTable[c.upper].Length, c.length) << c.upper;
  }
  for (unsigned v = 0; v < 256; ++v) {
    const lzh::TOffsetDecode row = lzh::OffsetDecodeTable[v];
    const unsigned length = lzh::OffsetCodeTable[row.Upper].Length;
    EXPECT_EQ(row.Length, length);
    EXPECT_EQ(v >> (8 - length), lzh::OffsetCodeTable[row.Upper].Code >> (8 - length)) << v;
  }
  const Bytes packed = WrittenBits([](lzh::TLzhBitWriter& bits) {
    for (unsigned o = 0; o < lzh::kWindowSize; ++o) lzh::WriteMatchOffset(bits, o);
  });
  TBitSource source(packed);
  for (unsigned o = 0; o < lzh::kWindowSize; ++o) ASSERT_EQ(lzh::ReadMatchOffset(source.Bits), o);
}

// A one-entry LHA archive with a level-0 header and method "-lh1-".
Bytes LhaArchive(const std::string& name, const Bytes& plain, const Bytes& packed, uint16_t crc) {
  return test::LhaLevel0Archive("-lh1-", name, packed, plain, crc, 0x5A210000);
}

constexpr char kLhasa[] = "/usr/bin/lhasa";

// Runs a command and returns its standard output and exit status.
std::pair<Bytes, int> Capture(const std::string& command) {
  Bytes out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {out, -1};
  char chunk[4096];
  for (std::size_t n; (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
    out.insert(out.end(), chunk, chunk + n);
  return {out, pclose(pipe)};
}

TEST(LzhPeer, LhasaExtractsOurStreamAsLh1WithItsCrcCheckPassing) {
  if (access(kLhasa, X_OK) != 0) GTEST_SKIP() << "lhasa is not installed: no peer to check with";
  const test::TScratchFolder folder("lzh-peer");
  struct Case {
    const char* name;
    Bytes plain;
  };
  const Case cases[] = {
      {"abc.txt", test::Bytes("abc")},       {"text.txt", TextBytes(120000, 5)},
      {"random.bin", RandomBytes(70000, 6)}, {"exe.bin", OwnExecutable(0, 150000)},
      {"same.bin", Bytes(50000, 0)},
  };
  for (const Case& c : cases) {
    const std::string archive =
        folder.Put(std::string(c.name) + ".lzh",
                   LhaArchive(c.name, c.plain, Compress(c.plain), test::LhaCrc16(c.plain)));
    const auto [tested, testStatus] = Capture(std::string(kLhasa) + " t '" + archive + "' 2>&1");
    EXPECT_EQ(testStatus, 0) << c.name << ": " << std::string(tested.begin(), tested.end());
    const std::string text(tested.begin(), tested.end());
    EXPECT_NE(text.find("Tested"), std::string::npos) << c.name << ": " << text;
    EXPECT_EQ(text.find("CRC error"), std::string::npos) << c.name << ": " << text;
    const auto [printed, printStatus] = Capture(std::string(kLhasa) + " pq '" + archive + "'");
    EXPECT_EQ(printStatus, 0) << c.name;
    EXPECT_TRUE(printed == c.plain) << c.name;
  }
  // The check itself can fail: a wrong CRC in the header is reported.
  const Bytes plain = test::Bytes("abc");
  const std::string archive =
      folder.Put("wrong.lzh", LhaArchive("wrong.txt", plain, Compress(plain),
                                         static_cast<uint16_t>(test::LhaCrc16(plain) ^ 1)));
  const auto [tested, status] = Capture(std::string(kLhasa) + " t '" + archive + "' 2>&1");
  EXPECT_NE(status, 0);
  EXPECT_NE(std::string(tested.begin(), tested.end()).find("CRC error"), std::string::npos);
}

}  // namespace
}  // namespace vo
