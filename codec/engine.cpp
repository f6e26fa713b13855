#include "codec/engine.h"

#include <atomic>
#include <thread>

#include "codec/lh5.h"
#include "codec/lzh.h"
#include "codec/rle.h"
#include "core/exception.h"
#include "core/messages.h"

namespace vo {

namespace {
constexpr int32_t kExpandSinkLimit = 0x7FFFFFFF;
constexpr int32_t kPercentExactBelow = 100001;

// Written once per program before any run, read by every run, maybe on several threads.
std::array<std::atomic<TCompressor>, kMethodLh5 + 1> Compressors{};

TCompressor CompressorOf(uint8_t method) {
  if (method != kMethodLzh && method != kMethodLh5) return nullptr;
  return Compressors[method].load(std::memory_order_acquire);
}
}  // namespace

void RegisterCompressor(uint8_t method, TCompressor compressor) {
  if (method != kMethodLzh && method != kMethodLh5) return;
  Compressors[method].store(compressor, std::memory_order_release);
}

bool HasCompressor(uint8_t method) {
  return CompressorOf(method) != nullptr;
}

int32_t ProgressPercent(int32_t done, int32_t total) {
  if (total <= 0) return 0;  // no run with a source ever reports this; no division by zero
  if (total < kPercentExactBelow) return done * 100 / total;
  return done / (total / 100);
}

TCodecRun::TCodecRun(const TCodecSettings& settings, TStream& sink, TStream& source,
                     int32_t sourceCount, TCodecMode mode, bool unscramble)
    : SinkLimit(mode == TCodecMode::Expand ? kExpandSinkLimit
                                           : sourceCount - settings.CompressReserve),
      SourceRemaining(sourceCount),
      UnscrambleInput(mode == TCodecMode::Expand && settings.Key != 0 && unscramble),
      ScrambleOutput(mode == TCodecMode::Compress && settings.Key != 0),
      Threads(std::max(settings.Threads, 1u)),
      ProgressCallback(settings.OnShowProgress),
      YieldEachBuffer(settings.YieldProcessor),
      SinkStream(sink),
      SourceStream(source),
      SourceCount(sourceCount) {
  const auto key = static_cast<uint32_t>(settings.Key);
  for (unsigned i = 0; i < 4; ++i) KeyBytes[i] = static_cast<uint8_t>(key >> (8 * i));
}

void TCodecRun::YieldIfAsked() const {
  if (YieldEachBuffer) std::this_thread::yield();
}

bool TCodecRun::RefillSource() {
  EndOfInput = true;
  // A negative count from a damaged header reads nothing, like a count of 0.
  if (SourceRemaining <= 0) return false;
  const auto ask = std::min<std::size_t>(kBufferSize, static_cast<std::size_t>(SourceRemaining));
  const std::size_t n = SourceStream.Read(SourceBuffer.data(), ask);
  SourceRemaining -= static_cast<int32_t>(n);
  if (n == 0) return false;
  SourcePos = 0;
  SourceEnd = n;
  if (ProgressCallback) {
    int32_t percent = ProgressPercent(SourceCount - SourceRemaining, SourceCount);
    ProgressCallback(percent);
    if (percent == -1) {
      InputCancelled = true;
      return false;
    }
  }
  YieldIfAsked();
  EndOfInput = false;
  return true;
}

bool TCodecRun::RefillInputSpan(const uint8_t*& next, const uint8_t*& end) {
  // After a cancel no byte counts: the chunk read with it is never expanded.
  if (InputCancelled || !RefillSource()) {
    next = end = SourceBuffer.data();
    return false;
  }
  uint8_t* const chunk = SourceBuffer.data();
  const std::size_t n = SourceEnd;
  uint32_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += chunk[i];
  SourceSum += sum;
  if (UnscrambleInput) {
    for (std::size_t i = 0; i < n; ++i) chunk[i] = ScrambleByte(chunk[i]);
  }
  SourcePos = SourceEnd;
  next = chunk;
  end = chunk + n;
  return true;
}

void TCodecRun::RaiseInputEnded() const {
  if (InputCancelled) throw ECancelled(kMsgCancelled);
  throw EReadError(kMsgDataEndsEarly);
}

void TCodecRun::WriteSinkBuffer() {
  YieldIfAsked();
  SinkStream.WriteBuffer(SinkBuffer.data(), SinkFill);
  SinkFill = 0;
}

void TCodecRun::PutSinkSpan(const uint8_t* data, std::size_t n) {
  while (n > 0) {
    if (SinkLimit <= 0) RaiseSinkLimit();
    if (SinkFill == kBufferSize) WriteSinkBuffer();
    const std::size_t k =
        std::min({n, kBufferSize - SinkFill, static_cast<std::size_t>(SinkLimit)});
    uint8_t* out = SinkBuffer.data() + SinkFill;
    uint32_t sum = 0;
    if (ScrambleOutput) {
      for (std::size_t i = 0; i < k; ++i) sum += out[i] = ScrambleByte(data[i]);
    } else {
      std::copy_n(data, k, out);
      for (std::size_t i = 0; i < k; ++i) sum += out[i];
    }
    SinkSum += sum;
    SinkLimit -= static_cast<int32_t>(k);
    SinkCount += static_cast<int32_t>(k);
    SinkFill += k;
    data += k;
    n -= k;
  }
}

void TCodecRun::FlushSink() {
  if (SinkFill != 0) SinkStream.WriteBuffer(SinkBuffer.data(), SinkFill);
  SinkFill = 0;
}

void TCodecRun::RaiseSinkLimit() {
  throw EUnableToCompress(kMsgCouldNotCompress);
}

int32_t RunCodec(const TCodecSettings& component, TStream& sink, TStream& source,
                 int32_t sourceCount, int32_t outputSize, uint8_t method, uint32_t& checksum,
                 TCodecMode mode, bool unscramble) {
  TCodecRun run(component, sink, source, sourceCount, mode, unscramble);
  const bool expand = mode == TCodecMode::Expand;
  switch (method) {
    case kMethodRle:
      if (!expand) throw EUnrecognizedCompressionMethod(kMsgRleDisabled);
      ExpandRle(run);
      break;
    case kMethodLzh:
    case kMethodLh5:
      if (!expand) {
        const TCompressor compress = CompressorOf(method);
        if (compress == nullptr) throw EUnrecognizedCompressionMethod(kMsgCompressionDisabled);
        compress(run);
      } else if (method == kMethodLzh) {
        ExpandLzh(run, outputSize);
      } else {
        ExpandLh5(run, outputSize);
      }
      break;
    default:  // no method: nothing passes, the checksum is 0
      break;
  }
  checksum = expand ? run.SinkSum : run.SourceSum;
  run.FlushSink();
  return run.SinkCount;
}

}  // namespace vo
