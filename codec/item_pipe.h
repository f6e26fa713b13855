// The two-thread form of a compression: the match finder and the parse run on the calling thread
// and hand each item they decide on (a literal, or a match with its offset) through a bounded
// pipe to the coder, which runs on a thread of its own and writes the run's sink. The items, and
// so the bytes, are those of one thread: only where the coding happens changes.
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace vo {

// One item of a parse: a literal or a match's symbol, and a match's offset.
struct TCodedItem {
  uint16_t Symbol;
  uint16_t Offset;
};

class TItemPipe {
 public:
  // Items go over in chunks, so that the threads meet once per chunk, not once per item; the
  // parse runs at most kChunkCount chunks ahead of the coder.
  static constexpr std::size_t kChunkItems = 8192;
  static constexpr std::size_t kChunkCount = 4;

  // Starts code(pipe) on a thread of its own; it takes items with Take until Take says none
  // follows.
  explicit TItemPipe(std::function<void(TItemPipe&)> code);
  TItemPipe(const TItemPipe&) = delete;
  TItemPipe& operator=(const TItemPipe&) = delete;
  // Stops the coder, if Finish has not, and waits for it: a run that failed writes no more.
  ~TItemPipe();

  // The parse's side. Raises what the coder raised, once the parse gets that far.
  void Put(uint16_t symbol, uint16_t offset) {
    if (WriteAt == WriteEnd) Publish(false);
    *WriteAt++ = {symbol, offset};
  }
  // Hands over the last items and waits until the coder has coded them; raises what it raised.
  void Finish();

  // The coder's side: the next item, or false once the parse has finished and every item is
  // taken.
  bool Take(TCodedItem& item) {
    if (ReadPos == ReadEnd && !NextChunk()) return false;
    item = Chunks[Reading % kChunkCount][ReadPos++];
    return true;
  }

 private:
  using TChunk = std::array<TCodedItem, kChunkItems>;

  void Publish(bool last);
  bool NextChunk();
  void RunCoder(const std::function<void(TItemPipe&)>& code);

  std::unique_ptr<TChunk[]> Chunks = std::make_unique<TChunk[]>(kChunkCount);
  // The parse's: chunks it has handed over (the one it fills is Writing % kChunkCount), and
  // where the next item goes in that one and where it ends; pointers, so that a Put is a store
  // and a compare.
  std::size_t Writing = 0;
  TCodedItem* WriteAt = Chunks[0].data();
  TCodedItem* WriteEnd = WriteAt + kChunkItems;
  // The coder's, on a cache line of their own.
  alignas(64) std::size_t Reading = 0;
  std::size_t ReadPos = 0;
  std::size_t ReadEnd = 0;
  bool Started = false;  // Reading names a chunk taken, to give back at the next
  // Shared, under Mutex.
  alignas(64) std::mutex Mutex;
  std::condition_variable Changed;
  std::array<std::size_t, kChunkCount> Sizes{};
  std::size_t Published = 0;
  std::size_t Released = 0;
  bool Last = false;     // the parse has finished: Published is final
  bool Stopped = false;  // the run ends early: the coder stops where it is
  std::exception_ptr CoderError;
  std::thread Coder;
};

}  // namespace vo
