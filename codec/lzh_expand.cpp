// LZH expansion: a fast loop without per-item checks while a whole item fits in the input and
// output at hand, and a careful one, through the bit reader, for the rest.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "codec/expand_io.h"
#include "codec/lzh.h"
#include "codec/lzh_bits.h"

namespace vo {

namespace {

using namespace lzh;

constexpr unsigned kMaxOffsetBits = 8 + kOffsetLowBits;
// One refill before each item of the fast loop serves the whole item.
static_assert(kLongestCode + kMaxOffsetBits <= TFastBits::kRefilledBits);
// The fast loop starts an item only with a word of the chunk unread; the bits it leaves ahead
// cover the careful reader's next read, so it never ends where that reader would have read on.
static_assert(kLongestCode + kMaxOffsetBits + TLzhBitReader::kDueBits <=
              TFastBits::kRefilledBits + 8);
constexpr std::size_t kOutputRoom = 4 * kWindowSize;  // bytes written between two slides

// The first kTopBits steps of every walk from the root, cached: a leaf and the bits to it, or
// the node reached after kTopBits bits. Nodes near the root seldom move, so the cache is built
// again only when one it passed has (the model marks the positions it watches).
constexpr unsigned kTopBits = 5;
constexpr unsigned kTopLengthShift = 12;
constexpr uint32_t kTopNodeMask = (1u << kTopLengthShift) - 1;
static_assert(kLeafBase + kSymbolCount <= kTopNodeMask);

// The positions a walk passes through, from the root's child down; the cached ones are copied
// as one block of kTopPathRoom.
constexpr unsigned kTopPathRoom = 8;
static_assert(kTopBits <= kTopPathRoom && kTopPathRoom <= kLongestCode);
using TWalkPath = std::array<uint16_t, kLongestCode>;

class TTopWalks {
 public:
  // The cached walk for the next kTopBits bits v of the stream; puts the positions it passed
  // through at the start of path.
  uint32_t Walk(TLzhModel& model, unsigned v, TWalkPath& path) {
    if (model.WatchedMoved) Rebuild(model);
    std::memcpy(path.data(), Paths[v].data(), sizeof Paths[v]);
    return Table[v];
  }

 private:
  void Rebuild(TLzhModel& model) {
    model.Watched.fill(0);
    for (unsigned v = 0; v < Table.size(); ++v) {
      unsigned m = model.NodeChild[kRoot];
      unsigned depth = 0;
      while (depth < kTopBits && m < kLeafBase) {
        const unsigned at = m + (v >> (kTopBits - 1 - depth) & 1u);
        model.Watched[at] = 1;
        Paths[v][depth] = static_cast<uint16_t>(at);
        m = model.NodeChild[at];
        ++depth;
      }
      Table[v] = m | depth << kTopLengthShift;
    }
    model.WatchedMoved = false;
  }

  std::array<uint32_t, 1u << kTopBits> Table;
  std::array<std::array<uint16_t, kTopPathRoom>, 1u << kTopBits> Paths;
};

// Items while a whole item fits in the chunk and the window at hand, counted ahead in runs so
// that an item needs no check of its own.
void FastLoop(TLzhModel& model, TTopWalks& top, TExpandInput& in, TExpandOutput& output) {
  TFastBits bits = in.Fast();
  uint8_t* out = output.Out;
  TWalkPath path;
  for (;;) {
    std::size_t n = std::min(in.FastItems(bits.Next, kLongestCode + kMaxOffsetBits),
                             output.FastItems(out, kMaxMatch));
    if (n == 0) break;
    do {
      bits.Refill();
      const uint32_t cached = top.Walk(model, bits.Peek(kTopBits), path);
      unsigned m = cached & kTopNodeMask;
      unsigned length = cached >> kTopLengthShift;
      while (m < kLeafBase) {
        const unsigned at = m + static_cast<unsigned>(bits.Bits << length >> 63);
        path[length++] = static_cast<uint16_t>(at);
        m = model.NodeChild[at];
      }
      bits.Skip(length);
      const unsigned s = m - kLeafBase;
      model.UpdateWatchedModel(s, path.data(), length);
      if (s < kLiteralCount) {
        *out++ = static_cast<uint8_t>(s);
        continue;
      }
      // The offset code, then its six low bits.
      const TOffsetDecode row = OffsetDecodeTable[bits.Peek(8)];
      const unsigned low = bits.Peek(row.Length + kOffsetLowBits) & kOffsetLowMask;
      bits.Skip(row.Length + kOffsetLowBits);
      const unsigned offset = (static_cast<unsigned>(row.Upper) << kOffsetLowBits) + low;
      out = CopyMatch(out, offset + 1, MatchLengthOf(s));
    } while (--n != 0);
  }
  output.Out = out;
  in.Resume(bits);
}

// The working storage of one expansion.
struct TLzhExpandState {
  TLzhExpandState(TCodecRun& run, int32_t count)
      : Output(run, kWindowSize, kOutputRoom, kMaxMatch, kFillByte, count), Bits(run, &Output) {}

  TLzhModel LzhModel;
  TTopWalks Top;
  TExpandOutput Output;
  TLzhBitReader Bits;
};

}  // namespace

// Between fast runs, one item at a time with every check: the end of a chunk, of the window or
// of the count. Before a read of the source the output so far reaches the sink, so reads,
// progress reports and writes come in the order of a byte-at-a-time decoder.
void ExpandLzh(TCodecRun& run, int32_t count) {
  if (count <= 0) return;
  const auto state = std::make_unique<TLzhExpandState>(run, count);
  TLzhModel& model = state->LzhModel;
  TExpandOutput& output = state->Output;
  model.InitLzhModel();
  while (output.Left() > 0) {
    output.MakeRoom();
    FastLoop(model, state->Top, state->Bits.In, output);
    output.MakeRoom();
    if (output.Left() == 0) break;
    const unsigned s = ReadLzhSymbol(model, state->Bits);
    model.WatchedMoved = true;  // this update did not watch
    if (s < kLiteralCount) {
      *output.Out++ = static_cast<uint8_t>(s);
      continue;
    }
    const std::size_t length = MatchLengthOf(s);
    const unsigned offset = ReadMatchOffset(state->Bits);
    output.Out = CopyMatch(output.Out, offset + 1, std::min(length, output.Left()));
  }
  output.PassOn();
}

}  // namespace vo
