// The codec engine: one run moves an entry's bytes from a source stream through a method to a
// sink stream, with 8192-byte buffers, byte sums, key scrambling, progress and an output limit.
// Methods see the run's byte source and sink (GetSourceByte, EndOfInput, PutSinkByte and their
// span forms); the LZH and LH5 expanders take whole input chunks and give output spans through
// the adapter of expand_io.h.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>

#include "core/stream.h"

namespace vo {

// The MethodIndex stored in each entry header.
inline constexpr uint8_t kMethodNon = 0;
inline constexpr uint8_t kMethodRle = 1;
inline constexpr uint8_t kMethodLzh = 2;
inline constexpr uint8_t kMethodCus = 3;
inline constexpr uint8_t kMethodLh5 = 4;

enum class TCodecMode : uint8_t { Compress = 0, Expand = 1 };

// Told the progress after each source refill; answering -1 cancels the input.
using TShowProgressEvent = std::function<void(int32_t& PercentageDone)>;

// What a run takes from the component that starts it.
struct TCodecSettings {
  TShowProgressEvent OnShowProgress;
  int32_t Key = 0;
  int32_t CompressReserve = 0;
  // Give up the processor at each buffer, for a program whose window must stay responsive
  // while it expands; a command-line run has no window and only loses its time slice to it.
  bool YieldProcessor = false;
  // Threads a compression may use. With 2 or more, LZH codes on a thread of its own beside its
  // match finder and parse, and LH5 finds the matches of long inputs in segments, one per
  // thread; the bytes are those of one thread.
  unsigned Threads = 1;
};

int32_t ProgressPercent(int32_t done, int32_t total);

// The state of one run. Runs are independent objects, so separate runs may proceed on
// separate threads; one run belongs to one thread.
class TCodecRun {
 public:
  static constexpr std::size_t kBufferSize = 8192;

  TCodecRun(const TCodecSettings& settings, TStream& sink, TStream& source, int32_t sourceCount,
            TCodecMode mode, bool unscramble);
  TCodecRun(const TCodecRun&) = delete;
  TCodecRun& operator=(const TCodecRun&) = delete;

  // The next input byte, or 0 with EndOfInput set when there is none (end of the source, or a
  // cancel from the progress handler).
  uint8_t GetSourceByte() {
    if (SourcePos == SourceEnd && !RefillSource()) return 0;
    uint8_t b = SourceBuffer[SourcePos++];
    SourceSum += b;
    if (UnscrambleInput) b = ScrambleByte(b);
    return b;
  }

  void PutSinkByte(uint8_t b) {
    if (SinkLimit <= 0) RaiseSinkLimit();
    --SinkLimit;
    if (SinkFill == kBufferSize) WriteSinkBuffer();
    if (ScrambleOutput) b = ScrambleByte(b);
    SinkBuffer[SinkFill++] = b;
    SinkSum += b;
    ++SinkCount;
  }

  // The four bytes of w, the highest first, as four calls of PutSinkByte would.
  void PutSinkWord(uint32_t w) {
    if (SinkLimit < 4 || SinkFill + 4 > kBufferSize || ScrambleOutput) {
      for (int shift = 24; shift >= 0; shift -= 8) PutSinkByte(static_cast<uint8_t>(w >> shift));
      return;
    }
    uint8_t* out = SinkBuffer.data() + SinkFill;
    for (int i = 0; i < 4; ++i) {
      out[i] = static_cast<uint8_t>(w >> (24 - 8 * i));
      SinkSum += out[i];
    }
    SinkFill += 4;
    SinkLimit -= 4;
    SinkCount += 4;
  }

  // The expanders' view of the input: the plain bytes of the next chunk, unscrambled, with the
  // same read, progress report and cancel as the refill of GetSourceByte. False, with
  // EndOfInput set, when no chunk follows: the source is used up or the handler cancelled.
  bool RefillInputSpan(const uint8_t*& next, const uint8_t*& end);

  // Raised by an expander that needs input past the end: a read error for data that ends
  // early, or ECancelled when the progress handler ended the input.
  [[noreturn]] void RaiseInputEnded() const;

  // Untaken bytes of SourceBuffer: as many GetSourceByte calls as this need no refill.
  std::size_t SourceBuffered() const { return SourceEnd - SourcePos; }

  // Takes n bytes, n at most SourceBuffered(), as n calls of GetSourceByte would.
  void TakeSourceBytes(uint8_t* out, std::size_t n) {
    const uint8_t* const in = SourceBuffer.data() + SourcePos;
    SourcePos += n;
    // The sum in a local: stores through out could alias the members, which would then be
    // loaded and stored again for every byte.
    uint32_t sum = 0;
    if (UnscrambleInput) {
      for (std::size_t i = 0; i < n; ++i) {
        sum += in[i];
        out[i] = ScrambleByte(in[i]);
      }
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        sum += in[i];
        out[i] = in[i];
      }
    }
    SourceSum += sum;
  }

  // Appends n bytes as n calls of PutSinkByte would: the same limit, writes and sums.
  void PutSinkSpan(const uint8_t* data, std::size_t n);

  uint8_t ScrambleByte(uint8_t b) {
    b ^= KeyBytes[KeyPosition];
    KeyPosition = (KeyPosition + 1) & 3;
    return b;
  }

  // Writes what SinkBuffer still holds; the end of a run that did not fail.
  void FlushSink();

  bool EndOfInput = false;
  bool InputCancelled = false;  // the progress handler answered -1
  uint32_t SourceSum = 0;
  uint32_t SinkSum = 0;
  int32_t SinkLimit;
  int32_t SinkCount = 0;
  int32_t SourceRemaining;
  bool UnscrambleInput;
  bool ScrambleOutput;
  // With several threads, a compressor reads the source on the calling thread and may write
  // the sink from another, never both at once: the two sides share no member.
  unsigned Threads;
  // State of RLE expansion, kept with the run as the method's view of the engine has it.
  uint8_t RlePrevious = 0;
  int32_t RleCount = 0;

 private:
  bool RefillSource();
  void WriteSinkBuffer();
  [[noreturn]] static void RaiseSinkLimit();

  void YieldIfAsked() const;

  TShowProgressEvent ProgressCallback;
  bool YieldEachBuffer;
  TStream& SinkStream;
  TStream& SourceStream;
  int32_t SourceCount;
  std::array<uint8_t, 4> KeyBytes;
  unsigned KeyPosition = 0;
  std::size_t SourcePos = 0;
  std::size_t SourceEnd = 0;
  std::size_t SinkFill = 0;
  std::array<uint8_t, kBufferSize> SourceBuffer;
  std::array<uint8_t, kBufferSize> SinkBuffer;
};

// The compress direction of a method: codes the run's whole source into its sink.
using TCompressor = void (*)(TCodecRun& run);

// Makes compressor the compress direction of method (LZH or LH5) for every later run. The
// engine itself holds only the expanders: a program that compresses registers its compressors
// once, before its first run (RegisterCompressors in codec/compress.h), and a program that only
// expands registers none and so links none.
void RegisterCompressor(uint8_t method, TCompressor compressor);

// Whether a compressor is registered for method.
bool HasCompressor(uint8_t method);

// Runs Method over SourceCount bytes of Source into Sink. Expanding, OutputSize is the number
// of bytes the method is to produce. Checksum receives the byte sum of the plain data; the
// result is the compressed size of a compression run. Compressing with a method that has no
// registered compressor raises EUnrecognizedCompressionMethod.
int32_t RunCodec(const TCodecSettings& component, TStream& sink, TStream& source,
                 int32_t sourceCount, int32_t outputSize, uint8_t method, uint32_t& checksum,
                 TCodecMode mode, bool unscramble);

}  // namespace vo
