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
  // room: the most the store holds at once, taken now so that it never moves a byte to grow.
  TStore(TLh5Input& source, const uint8_t* first, int firstCount, std::size_t room)
      : Source(source), Ended(firstCount < kChunk) {
    Bytes.reserve(room);
    Bytes.assign(first, first + firstCount);
  }

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
      if (got > 0) std::memcpy(out, Store.At(from), static_cast<std::size_t>(got));
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
  explicit TSlot(TStore& store)
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
  // A segment holds more windows than its finder warms up in, and its first check point lies
  // inside it.
  Plan.WarmWindows = std::max(Plan.WarmWindows, 1);
  Plan.SegmentWindows = std::max(Plan.SegmentWindows, Plan.WarmWindows + 1);
  Plan.CheckDelay = std::clamp(Plan.CheckDelay, 0, Plan.SegmentWindows * kWindowSize - 2);
  Plan.CheckCount = std::max(Plan.CheckCount, 1);
  SegmentCount = static_cast<int>(std::min(threads, kMostSegmentThreads));
  // A round spans its segments, the first one longer by the warming up the others do, and the
  // way to a slide point; the store holds the round handed over, the round being found and the
  // window read past it.
  MatchRoom = (int64_t{SegmentCount} * Plan.SegmentWindows + Plan.WarmWindows + 1) * kWindowSize;
  Text = std::make_unique<TStore>(source, leader.Window() + kFirstPosition, leader.Lookahead(),
                                  static_cast<std::size_t>(2 * MatchRoom + 2 * kChunk));
  Slots.push_back(std::make_unique<TSlot>(leader, *Text, 1));
}

// The other finders and the rooms for matches, once the input is long enough for a round: a
// short input costs no more than on one thread.
void TLh5Segments::Prepare() {
  if (static_cast<int>(Slots.size()) == SegmentCount) return;
  for (TRound* round : {&Found, &Finding}) {
    round->Matches =
        std::make_unique_for_overwrite<TLh5Match[]>(static_cast<std::size_t>(MatchRoom));
  }
  while (static_cast<int>(Slots.size()) < SegmentCount) {
    Slots.push_back(std::make_unique<TSlot>(*Text));
  }
}

TLh5Segments::~TLh5Segments() = default;

TLh5Finder& TLh5Segments::Leader() {
  return *Slots[Lead]->Finder;
}

void TLh5Segments::Record(TRound& round, TSlot& slot, int64_t position) {
  const TLh5Finder& f = *slot.Finder;
  round.Matches[static_cast<std::size_t>(position - round.First)] = {
      static_cast<uint16_t>(f.MatchLength()), static_cast<uint16_t>(f.MatchOffset())};
}

void TLh5Segments::RecordTo(TRound& round, TSlot& slot, int64_t end) {
  while (slot.At < end) {
    slot.Finder->Lh5Advance();
    Record(round, slot, ++slot.At);
  }
}

// The check points of a segment: its first lies inside it, and the later ones as far as they
// stay inside.
int64_t TLh5Segments::CheckPoint(const TRound& round, std::size_t segment, int check) const {
  const int64_t point = round.Starts[segment] + (int64_t{Plan.CheckDelay} << check);
  return check == 0 ? point : std::min(point, round.Starts[segment + 1] - 2);
}

// Where a segment's finder stops: at the next segment's first check point, or the round's end.
int64_t TLh5Segments::FirstCheck(const TRound& round, std::size_t segment) const {
  return segment + 2 < round.Starts.size() ? CheckPoint(round, segment + 1, 0) : round.End - 1;
}

// The first segment's finder, which holds the true state, goes on from where it stands.
void TLh5Segments::RunLeader(TRound& round) {
  TSlot& lead = *Slots[round.SlotOf[0]];
  lead.At = round.First;
  Record(round, lead, round.First);
  RecordTo(round, lead, FirstCheck(round, 0));
}

// Another segment's finder: from an empty trie before the segment through its check points,
// where its state is kept, and on to where it stops, with the matches after its own first check
// point recorded.
void TLh5Segments::RunSegment(TRound& round, std::size_t segment) {
  TSlot& s = *Slots[round.SlotOf[segment]];
  const int64_t start = round.Starts[segment] - int64_t{Plan.WarmWindows} * kWindowSize;
  s.Finder->StartAt(Text->At(start - kWindowSize));
  s.Input.Window = (start + kFirstPosition) / kChunk;
  s.At = start;
  for (; s.At < CheckPoint(round, segment, 0); ++s.At) s.Finder->Lh5Advance();
  s.TakeSnapshot(0);
  s.SavedCount = 1;
  for (int check = 1; check < Plan.CheckCount; ++check) {
    const int64_t point = CheckPoint(round, segment, check);
    if (point <= s.At) break;
    RecordTo(round, s, point);
    s.TakeSnapshot(static_cast<std::size_t>(check));
    s.SavedCount = check + 1;
  }
  RecordTo(round, s, FirstCheck(round, segment));
}

// Plans the round after the leader's position and sets its finders to work; false when the
// input left is too short for two segments.
bool TLh5Segments::Launch(TRound& round) {
  const int64_t first = LeaderAt;
  int segments = SegmentCount;
  const int64_t planned = int64_t{Plan.SegmentWindows} * kWindowSize;
  int64_t length = planned;
  // The first segment is longer by the others' warming up, so that all take as long.
  const auto second = [&] {
    return SlidePointFrom(first + length + Plan.WarmWindows * kWindowSize);
  };
  const auto end = [&] { return second() + (segments - 1) * length; };
  // The round handed over last still needs its bytes.
  Text->DropBefore(std::min(first, Found.First));
  Text->Fill(end() + kReadBeyond);
  // Every finder of the round reads whole windows, and every match it finds has the input
  // reaching past it. Near the end of the input the segments get shorter, down to the least
  // that holds a finder's warming up and first check point, so that little is left to one
  // thread.
  const int64_t room = Text->Limit() - kReadBeyond;
  const int64_t shortest =
      std::min(planned, std::max<int64_t>(Plan.WarmWindows + 1, Plan.CheckDelay / kWindowSize + 2) *
                            kWindowSize);
  while (segments >= 2 && end() > room) {
    length = std::max<int64_t>((room - first) / segments / kWindowSize * kWindowSize, shortest);
    while (length > shortest && end() > room) length -= kWindowSize;
    if (end() > room) {
      --segments;
      length = planned;
    }
  }
  if (segments < 2 || end() - first > MatchRoom) return false;
  Prepare();

  round.Starts.assign(1, first);
  for (int j = 1; j <= segments; ++j) round.Starts.push_back(second() + (j - 1) * length);
  round.First = first;
  round.End = round.Starts.back();
  // The other segments' finders are the slots after the leader's, in turn.
  round.SlotOf.resize(static_cast<std::size_t>(segments));
  for (std::size_t j = 0; j < round.SlotOf.size(); ++j) {
    round.SlotOf[j] = (Lead + j) % Slots.size();
  }
  Workers.emplace_back([this, &round] { RunLeader(round); });
  for (std::size_t j = 1; j < round.SlotOf.size(); ++j) {
    Workers.emplace_back([this, &round, j] { RunSegment(round, j); });
  }
  return true;
}

// Each segment's matches count from a check point where its finder has reached the state of the
// one before; until then, and through the segment if it never does, the one before finds them.
void TLh5Segments::Settle(TRound& round) {
  Workers.clear();  // joins them
  std::size_t current = round.SlotOf[0];
  for (std::size_t j = 1; j < round.SlotOf.size(); ++j) {
    TSlot& before = *Slots[current];
    TSlot& own = *Slots[round.SlotOf[j]];
    bool same = false;
    for (int check = 0; check < own.SavedCount && !same; ++check) {
      RecordTo(round, before, CheckPoint(round, j, check));
      same =
          SameFinderState(before.Finder->View(), own.Saved[static_cast<std::size_t>(check)].View);
    }
    if (same) {
      current = round.SlotOf[j];
    } else {
      RecordTo(round, before, FirstCheck(round, j));
    }
    if (Plan.Stats != nullptr) ++(same ? Plan.Stats->Adopted : Plan.Stats->FoundBefore);
  }
  Lead = current;
  LeaderAt = round.End - 1;
}

bool TLh5Segments::NextRound() {
  if (!Started) {
    Started = true;
    InFlight = Launch(Finding);
  }
  if (!InFlight) return false;
  Settle(Finding);
  std::swap(Found, Finding);
  InFlight = Launch(Finding);
  // The store moves only while a round is launched.
  FoundBytes = Text->At(Found.First);
  return true;
}

}  // namespace vo::lh5
