// The engine's side of an LZH or LH5 expansion: an output window that the decoder writes into
// and the engine takes in spans, and a bit reader over the engine's input spans.
//
// Callers see when the source is read (progress reports, the bytes read when a cancel comes)
// and when full sink buffers are written. Both keep the order of a decoder that read a byte at
// a time and wrote each byte as it was decoded: the reader may take bytes of the chunk in hand
// early, which nobody can see, but reads the next chunk only at the moment such a decoder
// would have, and hands the sink all that was decoded before it.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "codec/engine.h"

namespace vo {

// A wide match copy writes up to this many bytes past the match's end.
inline constexpr std::size_t kCopyOvershoot = 16;

// Decoded bytes go into one linear buffer, behind the history a match may reach; when the
// buffer is full it is passed on and its last history bytes move to the front.
class TExpandOutput {
 public:
  // history: bytes of earlier output a match may reach, holding fill at the start; room: bytes
  // written between two slides; itemBytes: the most one item produces; count: the bytes the
  // expansion is to produce, which it never passes.
  TExpandOutput(TCodecRun& run, std::size_t history, std::size_t room, std::size_t itemBytes,
                uint8_t fill, int32_t count)
      : Run(run),
        History(history),
        SlideAt(history + room),
        Storage(new uint8_t[history + room + itemBytes + kCopyOvershoot]) {
    std::fill_n(Storage.get(), history, fill);
    Out = PassedOn = Storage.get() + history;
    CountEnd = history + static_cast<std::size_t>(std::max(count, 0));
  }

  // Bytes still to produce.
  std::size_t Left() const { return CountEnd - Offset(Out); }

  // Slides the buffer when it is full, so that one item of itemBytes fits behind Out.
  void MakeRoom() {
    if (Offset(Out) >= SlideAt) Slide();
  }

  // How many items of at most itemBytes each a fast loop may write from out on: none passes
  // the count, and each starts before the slide.
  std::size_t FastItems(const uint8_t* out, std::size_t itemBytes) const {
    const std::size_t countStop = CountEnd > itemBytes ? CountEnd - itemBytes : 0;
    const std::size_t stop = std::min(SlideAt, countStop);
    const std::size_t at = Offset(out);
    return stop > at ? (stop - at + itemBytes - 1) / itemBytes : 0;
  }

  // Hands the run's sink what was written since the last call.
  void PassOn() {
    if (Out > PassedOn) Run.PutSinkSpan(PassedOn, static_cast<std::size_t>(Out - PassedOn));
    PassedOn = Out;
  }

  uint8_t* Out;  // where the next byte goes

 private:
  std::size_t Offset(const uint8_t* p) const { return static_cast<std::size_t>(p - Storage.get()); }
  void Slide() {
    PassOn();
    const std::size_t shift = Offset(Out) - History;
    std::memmove(Storage.get(), Out - History, History);
    Out -= shift;
    PassedOn = Out;
    CountEnd -= shift;
  }

  TCodecRun& Run;
  std::size_t History;
  std::size_t SlideAt;
  std::size_t CountEnd;  // offset at which the count is reached
  std::unique_ptr<uint8_t[]> Storage;
  uint8_t* PassedOn;
};

// Copies a match of length bytes (1 or more) from distance bytes back, front to back, so that a
// match overlapping the bytes it produces repeats them; writes up to kCopyOvershoot bytes past
// its end, which the next item overwrites.
inline uint8_t* CopyMatch(uint8_t* out, std::size_t distance, std::size_t length) {
  const uint8_t* from = out - distance;
  uint8_t* const end = out + length;
  if (distance >= kCopyOvershoot) {
    do {
      std::memcpy(out, from, kCopyOvershoot);  // the source lies wholly before out
      out += kCopyOvershoot;
      from += kCopyOvershoot;
    } while (out < end);
  } else if (distance >= kCopyOvershoot / 2) {
    do {
      std::memcpy(out, from, kCopyOvershoot / 2);
      out += kCopyOvershoot / 2;
      from += kCopyOvershoot / 2;
    } while (out < end);
  } else if (distance == 1) {
    uint8_t run[kCopyOvershoot];
    std::memset(run, out[-1], sizeof run);
    do {
      std::memcpy(out, run, sizeof run);
      out += sizeof run;
    } while (out < end);
  } else {
    // A period shorter than a word: a word of the repeating bytes, written at steps of whole
    // periods so that each write starts where the pattern does.
    uint8_t pattern[kCopyOvershoot / 2];
    for (std::size_t i = 0; i < sizeof pattern; ++i) pattern[i] = from[i % distance];
    const std::size_t step = sizeof pattern / distance * distance;
    do {
      std::memcpy(out, pattern, sizeof pattern);
      out += step;
    } while (out < end);
  }
  return end;
}

// The bit reader's registers, copied into locals by a fast loop so that its writes through
// byte pointers cannot make the compiler reload them.
struct TFastBits {
  // At least this many bits are ahead after a refill.
  static constexpr unsigned kRefilledBits = 56;

  uint64_t Bits;  // left-aligned: the next bit is bit 63
  unsigned Count;
  const uint8_t* Next;

  // Needs 8 bytes at Next. Bits of a byte not yet counted may be ORed in twice: they agree.
  void Refill() {
    uint64_t word;
    std::memcpy(&word, Next, sizeof word);
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    Bits |= word >> Count;
    Next += (63 - Count) >> 3;
    Count |= kRefilledBits;
  }
  unsigned Peek(unsigned n) const { return static_cast<unsigned>(Bits >> (64 - n)); }
  // The same for n from 0 to 32.
  unsigned Peek0(unsigned n) const { return static_cast<unsigned>((Bits >> 1) >> (63 - n)); }
  void Skip(unsigned n) {
    Bits <<= n;
    Count -= n;
  }
  // The next n bits (0 to 32) as a number.
  unsigned Take(unsigned n) {
    const unsigned x = Peek0(n);
    Skip(n);
    return x;
  }
};

// Bits of the run's input spans, most significant first.
class TExpandInput {
 public:
  // output, if given, takes what was decoded before each read of the source.
  TExpandInput(TCodecRun& run, TExpandOutput* output) : Run(run), Output(output) {}

  unsigned Peek(unsigned n) const { return static_cast<unsigned>(Bits >> (64 - n)); }

  // Keeps at least due bits (at most 56) ahead. A byte past the input reads as zero bits.
  void Ensure(unsigned due) {
    while (Count < due) Fetch();
  }

  // Steps over n bits; fails when they reach past the end of the input.
  void Consume(unsigned n) {
    Bits <<= n;
    Count -= n;
    if (Count < PadBits) Run.RaiseInputEnded();
  }

  // How many items of at most itemBits each a fast loop may decode from next on, refilling
  // before each: every refill finds a word of the chunk unread. The bits consumed lie at most
  // 63 bits behind 8 * next, and each item moves them on by itemBits.
  std::size_t FastItems(const uint8_t* next, unsigned itemBits) const {
    constexpr std::ptrdiff_t kWordBits = 8 * sizeof(uint64_t);
    const std::ptrdiff_t room = 8 * (End - next) - kWordBits - (kWordBits - 1);
    return room < 0 ? 0 : static_cast<std::size_t>(room) / itemBits + 1;
  }
  TFastBits Fast() const { return {Bits, Count, Next}; }
  void Resume(const TFastBits& fast) {
    Bits = fast.Bits;
    Count = fast.Count;
    Next = fast.Next;
  }

 private:
  void Fetch() {
    if (End - Next >= 8) {
      TFastBits fast = Fast();
      fast.Refill();
      Resume(fast);
    } else if (Next != End) {
      Bits |= uint64_t{*Next++} << (56 - Count);
      Count += 8;
    } else {
      // The next chunk: its read and progress report come after the sink has what was decoded.
      if (Output != nullptr) Output->PassOn();
      if (!Run.RefillInputSpan(Next, End)) {
        PadBits += 8;  // zero bits that no decoding step may consume
        Count += 8;
      }
    }
  }

  TCodecRun& Run;
  TExpandOutput* Output;
  uint64_t Bits = 0;
  unsigned Count = 0;
  unsigned PadBits = 0;
  const uint8_t* Next = nullptr;
  const uint8_t* End = nullptr;
};

}  // namespace vo
