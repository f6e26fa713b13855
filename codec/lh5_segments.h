// LH5 match finding on several threads, with the matches of one thread.
//
// The input is cut into segments at slide points, a round of segments at a time, one segment
// per thread. The finder that holds the true state goes on through the first segment; each other
// segment gets a finder that starts with an empty trie a few windows before the segment. When
// the finder before it reaches a check point a little into the segment, the two are compared
// (SameFinderState): equal states find equal matches for ever after, so from there on the
// segment's own matches are the true ones. If they differ, the finder before goes on to the next
// check point and they are compared again; if they never agree, it goes on through the segment
// itself, and the segment's work is thrown away. The matches are therefore exactly those of one
// finder over the whole input, however the threads run.
//
// A finder's step ignores the parse except for one thing: a match is cut to the input left,
// which changes it only in the last 256 positions. Rounds stop well before the end, and the last
// part of the input is found and parsed by one finder as on one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/engine.h"
#include "codec/lh5_finder.h"

namespace vo::lh5 {

// How the segments of a compression fared: whose matches were taken.
struct TLh5SegmentStats {
  int Adopted = 0;      // the segment's own, from a check point on
  int FoundBefore = 0;  // the finder's before it, which went on through the segment
};

struct TLh5SegmentPlan {
  int SegmentWindows = 64;  // a segment's length in windows
  // A segment's finder starts this many windows before the segment.
  int WarmWindows = 2;
  // Positions after a segment's start at which its finder is first compared with the one
  // before: the new finder needs a while to take on the state of the other. If they differ,
  // they are compared again at twice the distance, CheckCount times in all.
  int CheckDelay = 2 * kWindowSize;
  int CheckCount = 3;
  TLh5SegmentStats* Stats = nullptr;  // counted into when given
};

// One position's match as a round keeps it: the length, and the offset as sent (the distance
// minus one).
struct TLh5Match {
  uint16_t Length;
  uint16_t Offset;
};

// Compresses the run's whole input as CompressLh5 does, with segments cut as plan says when the
// run has several threads.
void CompressLh5(TCodecRun& run, const TLh5SegmentPlan& plan);

class TLh5Segments {
 public:
  // leader has started (it stands at the input's first position) and has read its first window
  // from source; source goes on where that left off.
  TLh5Segments(TLh5Finder& leader, TLh5Input& source, unsigned threads,
               const TLh5SegmentPlan& plan = {});
  TLh5Segments(const TLh5Segments&) = delete;
  TLh5Segments& operator=(const TLh5Segments&) = delete;
  ~TLh5Segments();

  // Finds the matches of the next round; false, with no round found, once the input left is
  // too short for two segments or its end has been seen.
  bool NextRound();

  // The last round's matches, of the positions [First(), End()).
  int64_t First() const { return RoundFirst; }
  int64_t End() const { return RoundEnd; }
  TLh5Match MatchAt(int64_t position) const {
    return Matches[static_cast<std::size_t>(position - RoundFirst)];
  }
  uint8_t ByteAt(int64_t position) const;

  // The finder of the true state, at position LeaderPosition(): End() - 1 after a round, the
  // input's first position before one. Its input reads on from the source.
  TLh5Finder& Leader();
  int64_t LeaderPosition() const { return LeaderAt; }

  // Internal: a finder with its storage and input, and the input the finders share.
  struct TSlot;
  class TStore;

 private:
  int64_t CheckPoint(std::size_t segment, int check) const;
  int64_t FirstCheck(std::size_t segment) const;
  void RunSlot(std::size_t slot, std::size_t segment);
  void Record(TSlot& slot, int64_t position);
  void RecordTo(TSlot& slot, int64_t end);

  TLh5SegmentPlan Plan;
  std::unique_ptr<TStore> Text;
  std::vector<std::unique_ptr<TSlot>> Slots;
  std::size_t Lead = 0;  // the slot of the true state
  int64_t LeaderAt = 0;
  int64_t RoundFirst = 0;
  int64_t RoundEnd = 0;
  std::vector<int64_t> Starts;  // each segment's first position in the round; then its end
  std::vector<TLh5Match> Matches;
};

}  // namespace vo::lh5
