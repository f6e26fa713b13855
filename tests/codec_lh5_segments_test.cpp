// LH5 match finding in segments on several threads must find the matches of one finder: the
// streams are compared with one thread's under plans that make the segments' finders agree with
// the finder before them and plans that make them disagree, and the state comparison that
// decides between the two is checked on its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "codec/engine.h"
#include "codec/lh5_finder.h"
#include "codec/lh5_segments.h"
#include "tests/support/bytes.h"
#include "tests/support/codec_runs.h"
#include "tests/support/streams.h"

namespace vo {
namespace {

using lh5::TLh5SegmentPlan;
using lh5::TLh5SegmentStats;
using test::TBytes;

// cancelAt: the progress report that answers -1, which ends the input there; 0 for none.
TBytes CompressInSegments(const TBytes& plain, unsigned threads, TLh5SegmentPlan plan,
                          int cancelAt = 0) {
  test::TRecordingStream source(plain);
  test::TRecordingStream sink;
  TCodecSettings settings;
  settings.CompressReserve = test::kNoCompressLimit;
  settings.Threads = threads;
  int reports = 0;
  settings.OnShowProgress = [&](int32_t& percent) {
    if (++reports == cancelAt) percent = -1;
  };
  TCodecRun run(settings, sink, source, static_cast<int32_t>(plain.size()), TCodecMode::Compress,
                false);
  lh5::CompressLh5(run, plan);
  run.FlushSink();
  return sink.Data();
}

// Text, then the same text with every byte turned: matches that reach far back, across many
// segments.
TBytes TextTwice(std::size_t n, uint32_t seed) {
  TBytes data = test::TextBytes(n, seed);
  for (std::size_t i = 0; i < n; ++i) data.push_back(static_cast<uint8_t>(data[i] ^ 0x20));
  return data;
}

TEST(Lh5Segments, FindTheMatchesOfOneFinder) {
  struct TInput {
    const char* Name;
    TBytes Data;
    int CancelAt = 0;
  };
  const TInput inputs[] = {
      {"text", test::TextBytes(200000, 11)},
      {"text twice", TextTwice(80000, 12)},
      {"one byte", TBytes(100000, 0x41)},
      {"noise", test::RandomBytes(100000, 13)},
      // Just long enough for one round of two segments of three windows, and one byte short.
      {"one round", test::TextBytes(7936 + 2 * 3 * 8192 + 256, 14)},
      {"one byte short", test::TextBytes(7936 + 2 * 3 * 8192 + 255, 15)},
      // The input ends early where rounds read ahead: as on one thread, a cancel ends only the
      // refill it came with, and the next one reads on.
      {"cancelled", test::TextBytes(200000, 16), 9},
  };
  struct TPlan {
    const char* Name;
    TLh5SegmentPlan Plan;
  };
  // Compared at once, the finders almost never agree; compared late, they mostly do.
  const TPlan plans[] = {
      {"compared at once",
       {.SegmentWindows = 3, .WarmWindows = 1, .CheckDelay = 0, .CheckCount = 1}},
      {"compared late",
       {.SegmentWindows = 6, .WarmWindows = 2, .CheckDelay = 16384, .CheckCount = 2}},
      {"compared again and again",
       {.SegmentWindows = 4, .WarmWindows = 1, .CheckDelay = 2000, .CheckCount = 5}},
  };
  TLh5SegmentStats total;
  for (const TInput& input : inputs) {
    const TBytes one = CompressInSegments(input.Data, 1, {}, input.CancelAt);
    if (input.CancelAt == 0) {
      ASSERT_EQ(test::ExpandBytes(kMethodLh5, one, static_cast<int32_t>(input.Data.size())),
                input.Data);
    }
    for (const TPlan& plan : plans) {
      for (unsigned threads : {2u, 4u}) {
        TLh5SegmentStats stats;
        TLh5SegmentPlan counted = plan.Plan;
        counted.Stats = &stats;
        EXPECT_TRUE(CompressInSegments(input.Data, threads, counted, input.CancelAt) == one)
            << input.Name << ", " << plan.Name << ", " << threads << " threads";
        total.Adopted += stats.Adopted;
        total.FoundBefore += stats.FoundBefore;
      }
    }
  }
  // Both ways of a segment were taken, or the comparison above proves less than it claims.
  EXPECT_GT(total.Adopted, 0);
  EXPECT_GT(total.FoundBefore, 0);
}

// A finder's state as a copy that a test may change.
struct TFinderCopy {
  explicit TFinderCopy(const lh5::TLh5FinderView& view)
      : Window(view.Window, view.Window + lh5::kTextSize),
        Trie(view.Trie, view.Trie + lh5::kTrieEntryCount),
        View(view) {}
  lh5::TLh5FinderView Get() {
    View.Window = Window.data();
    View.Trie = Trie.data();
    return View;
  }
  std::vector<uint8_t> Window;
  std::vector<lh5::TTrieEntry> Trie;
  lh5::TLh5FinderView View;
};

class TMemoryInput final : public lh5::TLh5Input {
 public:
  explicit TMemoryInput(const TBytes& data) : Data(data) {}
  int Read(uint8_t* out, int n) override {
    const auto got = static_cast<int>(std::min<std::size_t>(n, Data.size() - Next));
    std::copy_n(Data.begin() + static_cast<std::ptrdiff_t>(Next), got, out);
    Next += static_cast<std::size_t>(got);
    return got;
  }

 private:
  const TBytes& Data;
  std::size_t Next = 0;
};

// Inner nodes are named from a free list, so equal finders may name them differently: the
// comparison must see through names and nothing else.
TEST(Lh5Finder, SameStateSeesThroughNamesOnly) {
  const TBytes text = test::TextBytes(60000, 21);
  TMemoryInput input(text);
  const lh5::TLh5StorageHold storage = lh5::AcquireLh5Storage(true);
  lh5::TLh5Finder finder(*storage, input);
  ASSERT_TRUE(finder.Start());
  for (int i = 0; i < 40000; ++i) finder.Lh5Advance();
  const TFinderCopy original(finder.View());

  // Two inner nodes on one leaf's path, and a node off it.
  const lh5::TTrieEntry* trie = finder.View().Trie;
  int leaf = lh5::kWindowSize;
  while (trie[leaf].Parent == 0 || trie[leaf].Parent >= lh5::kWindowSize ||
         trie[trie[leaf].Parent].Parent >= lh5::kWindowSize) {
    ++leaf;
  }
  const int inner = trie[leaf].Parent;
  const int outer = trie[inner].Parent;

  struct TCase {
    const char* Name;
    void (*Change)(TFinderCopy&, int leaf, int inner, int outer);
    bool Same;
  };
  const TCase cases[] = {
      {"unchanged", [](TFinderCopy&, int, int, int) {}, true},
      {"inner nodes renamed",
       [](TFinderCopy& c, int, int a, int b) {
         std::swap(c.Trie[a], c.Trie[b]);
         for (lh5::TTrieEntry& e : c.Trie) {
           if (e.Parent == a) {
             e.Parent = static_cast<uint16_t>(b);
           } else if (e.Parent == b) {
             e.Parent = static_cast<uint16_t>(a);
           }
         }
       },
       true},
      {"a text byte", [](TFinderCopy& c, int, int, int) { c.Window[12345] ^= 1; }, false},
      {"the match length", [](TFinderCopy& c, int, int, int) { ++c.View.MatchLength; }, false},
      {"the look-ahead", [](TFinderCopy& c, int, int, int) { --c.View.Lookahead; }, false},
      {"a node's level", [](TFinderCopy& c, int, int a, int) { ++c.Trie[a].Level; }, false},
      {"a node's pending flag",
       [](TFinderCopy& c, int, int a, int) { c.Trie[a].Position ^= 0x8000; }, false},
      {"a leaf under another node",
       [](TFinderCopy& c, int l, int, int b) { c.Trie[l].Parent = static_cast<uint16_t>(b); },
       false},
  };
  for (const TCase& c : cases) {
    TFinderCopy changed = original;
    c.Change(changed, leaf, inner, outer);
    TFinderCopy same = original;
    EXPECT_EQ(lh5::SameFinderState(same.Get(), changed.Get()), c.Same) << c.Name;
    EXPECT_EQ(lh5::SameFinderState(changed.Get(), same.Get()), c.Same) << c.Name;
  }
}

}  // namespace
}  // namespace vo
