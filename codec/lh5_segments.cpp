#include "codec/lh5_segments.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

namespace vo::lh5 {

namespace {

// More finders than this only hold memory: each keeps a segment of input and its matches.
constexpr unsigned kMostSegmentThreads = 16;
// A refill reads one window of input; the store keeps the input in the same pieces.
constexpr int64_t kChunk = kRefillBytes;
static_assert(kChunk == kWindowSize);
// Past the last position it finds, a finder has read up to the end of the window after it.
constexpr int64_t kReadBeyond = kMaxMatch;

// The first slide point at or after position x.
int64_t SlidePointFrom(int64_t x) {
  if (x <= kFirstSlideOffset) return kFirstSlideOffset;
  return kFirstSlideOffset + (x - kFirstSlideOffset + kWindowSize - 1) / kWindowSize * kWindowSize;
}

}  // namespace

// The input from the first position on, as the refills read it: the first window that the
// leader read, then each refill's window, the last of them perhaps short. Windows are dropped
// from the front once no finder and no parse needs them.
class TLh5Segments::TStore {
 public:
  TStore(TLh5Input& source, const uint8_t* first, int firstCount)
      : Source(source), Bytes(first, first + firstCount), Ended(firstCount < kChunk) {}

  int64_t Limit() const { return Base + static_cast<int64_t>(Bytes.size()); }
  // Windows read from the source so far, the first one included.
  int64_t Reads() const { return ReadCount; }
  const uint8_t* At(int64_t position) const {
    return Bytes.data() + static_cast<std::size_t>(position - Base);
  }

  // Reads windows until the store holds the positions before end, or the input ends.
  void Fill(int64_t end) {
    while (Limit() < end && !Ended) {
      const std::size_t size = Bytes.size();
      Bytes.resize(size + kChunk);
      const int got = Source.Read(Bytes.data() + size, static_cast<int>(kChunk));
      Bytes.resize(size + static_cast<std::size_t>(got));
      ++ReadCount;
      Ended = got < kChunk;
    }
  }

  // Lets go of the whole windows before position.
  void DropBefore(int64_t position) {
    const int64_t drop = (position - Base) / kChunk * kChunk;
    if (drop <= 0) return;
    Bytes.erase(Bytes.begin(), Bytes.begin() + static_cast<std::ptrdiff_t>(drop));
    Base += drop;
  }

  TLh5Input& Source;

 private:
  int64_t Base = 0;
  std::vector<uint8_t> Bytes;
  int64_t ReadCount = 1;
  bool Ended;
};

namespace {

// One finder's input: the store's windows, and after them the source itself, read on as one
// finder alone would: a refill the store made is answered from it as the source answered it,
// a short or empty window included, and a later one goes to the source.
class TStoreInput final : public TLh5Input {
 public:
  TStoreInput(TLh5Segments::TStore& store, int64_t window) : Window(window), Store(store) {}
  int Read(uint8_t* out, int n) override {
    int got = 0;
    if (Window < Store.Reads()) {
      const int64_t from = Window * kChunk;
      got = static_cast<int>(std::clamp<int64_t>(Store.Limit() - from, 0, n));
      std::memcpy(out, Store.At(from), static_cast<std::size_t>(got));
    } else {
      got = Store.Source.Read(out, n);
    }
    ++Window;
    return got;
  }

  int64_t Window;  // the window the next refill reads

 private:
  TLh5Segments::TStore& Store;
};

}  // namespace

struct TLh5Segments::TSlot {
  TSlot(TLh5Finder& borrowed, TStore& store, int64_t window)
      : Input(store, window), Finder(&borrowed) {
    Finder->SetInput(Input);
  }
  TSlot(TStore& store)
      : Storage(AcquireLh5Storage(true)), Input(store, 0), Own(std::in_place, *Storage, Input) {
    Finder = &*Own;
  }

  // The state a segment's finder had at its check points, for the finder before to compare.
  struct TSaved {
    std::vector<uint8_t> Window;
    std::vector<TTrieEntry> Trie;
    TLh5FinderView View{};
  };
  void TakeSnapshot(std::size_t check) {
    if (Saved.size() <= check) Saved.resize(check + 1);
    TSaved& saved = Saved[check];
    saved.View = Finder->View();
    saved.Window.assign(saved.View.Window, saved.View.Window + kTextSize);
    saved.Trie.assign(saved.View.Trie, saved.View.Trie + kTrieEntryCount);
    saved.View.Window = saved.Window.data();
    saved.View.Trie = saved.Trie.data();
  }

  TLh5StorageHold Storage;
  TStoreInput Input;
  std::optional<TLh5Finder> Own;
  TLh5Finder* Finder;
  int64_t At = 0;  // the position the finder stands at
  std::vector<TSaved> Saved;
  int SavedCount = 0;  // of this round
};

TLh5Segments::TLh5Segments(TLh5Finder& leader, TLh5Input& source, unsigned threads,
                           const TLh5SegmentPlan& plan)
    : Plan(plan) {
  const int lookahead = leader.Lookahead();
  Text = std::make_unique<TStore>(source, leader.Window() + kFirstPosition, lookahead);
  Slots.push_back(std::make_unique<TSlot>(leader, *Text, 1));
  const unsigned count = std::min(threads, kMostSegmentThreads);
  for (unsigned i = 1; i < count; ++i) Slots.push_back(std::make_unique<TSlot>(*Text));
  // A segment holds more windows than its finder warms up in, and its first check point lies
  // inside it.
  Plan.WarmWindows = std::max(Plan.WarmWindows, 1);
  Plan.SegmentWindows = std::max(Plan.SegmentWindows, Plan.WarmWindows + 1);
  Plan.CheckDelay = std::clamp(Plan.CheckDelay, 0, Plan.SegmentWindows * kWindowSize - 2);
  Plan.CheckCount = std::max(Plan.CheckCount, 1);
}

TLh5Segments::~TLh5Segments() = default;

uint8_t TLh5Segments::ByteAt(int64_t position) const {
  return *Text->At(position);
}

TLh5Finder& TLh5Segments::Leader() {
  return *Slots[Lead]->Finder;
}

void TLh5Segments::Record(TSlot& slot, int64_t position) {
  const TLh5Finder& f = *slot.Finder;
  Matches[static_cast<std::size_t>(position - RoundFirst)] = {
      static_cast<uint16_t>(f.MatchLength()),
      static_cast<uint16_t>((f.Position() - f.MatchPosition() - 1) & kWindowMask)};
}

// The check points of a segment: its first lies inside it, and the later ones as far as they
// stay inside.
int64_t TLh5Segments::CheckPoint(std::size_t segment, int check) const {
  const int64_t point = Starts[segment] + (int64_t{Plan.CheckDelay} << check);
  return check == 0 ? point : std::min(point, Starts[segment + 1] - 2);
}

int64_t TLh5Segments::FirstCheck(std::size_t segment) const {
  return segment + 1 < Starts.size() - 1 ? CheckPoint(segment + 1, 0) : RoundEnd - 1;
}

void TLh5Segments::RecordTo(TSlot& slot, int64_t end) {
  while (slot.At < end) {
    slot.Finder->Lh5Advance();
    Record(slot, ++slot.At);
  }
}

// Segment j's own finder: from an empty trie before the segment through its check points, where
// its state is kept, and on to the next segment's first check point (or the round's end), with
// the matches after its own first check point recorded.
void TLh5Segments::RunSlot(std::size_t slot, std::size_t segment) {
  TSlot& s = *Slots[slot];
  const int64_t start = Starts[segment] - int64_t{Plan.WarmWindows} * kWindowSize;
  s.Finder->StartAt(Text->At(start - kWindowSize));
  s.Input.Window = (start + kFirstPosition) / kChunk;
  s.At = start;
  for (; s.At < CheckPoint(segment, 0); ++s.At) s.Finder->Lh5Advance();
  s.TakeSnapshot(0);
  s.SavedCount = 1;
  for (int check = 1; check < Plan.CheckCount; ++check) {
    const int64_t point = CheckPoint(segment, check);
    if (point <= s.At) break;
    RecordTo(s, point);
    s.TakeSnapshot(static_cast<std::size_t>(check));
    s.SavedCount = check + 1;
  }
  RecordTo(s, FirstCheck(segment));
}

bool TLh5Segments::NextRound() {
  const int64_t length = int64_t{Plan.SegmentWindows} * kWindowSize;
  const int64_t first = LeaderAt;
  const int64_t second = SlidePointFrom(first + length);
  Text->DropBefore(first);
  int segments = static_cast<int>(Slots.size());
  Text->Fill(second + (segments - 1) * length + kReadBeyond);
  // Every finder of the round reads whole windows, and every match it finds has the input
  // reaching past it.
  while (segments >= 2 && second + (segments - 1) * length + kReadBeyond > Text->Limit()) {
    --segments;
  }
  if (segments < 2) return false;

  Starts.assign(1, first);
  for (int j = 1; j <= segments; ++j) Starts.push_back(second + (j - 1) * length);
  RoundFirst = first;
  RoundEnd = Starts.back();
  Matches.resize(static_cast<std::size_t>(RoundEnd - RoundFirst));

  // The other segments' finders are the slots after the leader's, in turn.
  std::vector<std::size_t> slotOf(static_cast<std::size_t>(segments));
  for (std::size_t j = 0; j < slotOf.size(); ++j) slotOf[j] = (Lead + j) % Slots.size();
  {
    std::vector<std::jthread> workers;
    for (std::size_t j = 1; j < slotOf.size(); ++j) {
      workers.emplace_back([this, &slotOf, j] { RunSlot(slotOf[j], j); });
    }
    TSlot& lead = *Slots[Lead];
    lead.At = first;
    Record(lead, first);
    RecordTo(lead, FirstCheck(0));
  }

  // Each segment's matches count from a check point where its finder has reached the state of
  // the one before; until then, and through the segment if it never does, the one before finds
  // them.
  std::size_t current = Lead;
  for (std::size_t j = 1; j < slotOf.size(); ++j) {
    TSlot& before = *Slots[current];
    TSlot& own = *Slots[slotOf[j]];
    bool same = false;
    for (int check = 0; check < own.SavedCount && !same; ++check) {
      RecordTo(before, CheckPoint(j, check));
      same =
          SameFinderState(before.Finder->View(), own.Saved[static_cast<std::size_t>(check)].View);
    }
    if (same) {
      current = slotOf[j];
    } else {
      RecordTo(before, FirstCheck(j));
    }
    if (Plan.Stats != nullptr) ++(same ? Plan.Stats->Adopted : Plan.Stats->FoundBefore);
  }
  Lead = current;
  LeaderAt = RoundEnd - 1;
  return true;
}

}  // namespace vo::lh5
