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
#include <thread>
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
  int SegmentWindows = 48;  // a segment's length in windows
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

  // Hands over the matches of the next round, and starts finding those of the round after it
  // on other threads while the caller parses these; false, with no round, once the input left
  // is too short for two segments or its end has been seen.
  bool NextRound();

  // The round handed over, of the positions [First(), End()).
  int64_t First() const { return Found.First; }
  int64_t End() const { return Found.End; }
  TLh5Match MatchAt(int64_t position) const {
    return Found.Matches[static_cast<std::size_t>(position - Found.First)];
  }
  uint8_t ByteAt(int64_t position) const {
    return FoundBytes[static_cast<std::size_t>(position - Found.First)];
  }

  // The finder of the true state, at position LeaderPosition(): End() - 1 after the last round,
  // the input's first position if none ran. Its input reads on from the source. Only once
  // NextRound has said false.
  TLh5Finder& Leader();
  int64_t LeaderPosition() const { return LeaderAt; }

  // Internal: a finder with its storage and input, and the input the finders share.
  struct TSlot;
  class TStore;

 private:
  struct TRound {
    std::vector<int64_t> Starts;      // each segment's first position, then the round's end
    std::vector<std::size_t> SlotOf;  // each segment's finder
    int64_t First = 0;
    int64_t End = 0;
    // Room for the longest round, taken once and written only by the finders, which fill it
    // a page at a time on their own threads.
    std::unique_ptr<TLh5Match[]> Matches;
  };

  void Prepare();
  bool Launch(TRound& round);
  void Settle(TRound& round);
  int64_t CheckPoint(const TRound& round, std::size_t segment, int check) const;
  int64_t FirstCheck(const TRound& round, std::size_t segment) const;
  void RunLeader(TRound& round);
  void RunSegment(TRound& round, std::size_t segment);
  static void Record(TRound& round, TSlot& slot, int64_t position);
  static void RecordTo(TRound& round, TSlot& slot, int64_t end);

  TLh5SegmentPlan Plan;
  int SegmentCount = 0;  // finders at work at once
  std::unique_ptr<TStore> Text;
  std::vector<std::unique_ptr<TSlot>> Slots;
  std::size_t Lead = 0;  // the slot of the true state
  int64_t LeaderAt = 0;
  int64_t MatchRoom = 0;  // positions a round may span
  TRound Found;
  const uint8_t* FoundBytes = nullptr;  // the input at Found.First
  TRound Finding;
  bool InFlight = false;  // Finding's finders are at work
  bool Started = false;
  // Last, so that they are joined before anything they use goes.
  std::vector<std::jthread> Workers;
};

}  // namespace vo::lh5
