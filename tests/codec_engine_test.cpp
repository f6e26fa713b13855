#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "codec/compress.h"
#include "codec/engine.h"
#include "codec/expand_io.h"
#include "core/exception.h"
#include "tests/support/bytes.h"
#include "tests/support/codec_runs.h"
#include "tests/support/streams.h"

namespace vo {
namespace {

using test::TRecordingStream;

TEST(ProgressPercent, ExactBelow100001AndCoarseAbove) {
  struct Case {
    int32_t done, total, percent;
  };
  const Case cases[] = {
      {0, 100, 0},           {50, 100, 50},         {8192, 20000, 40}, {16384, 20000, 81},
      {20000, 20000, 100},   {100000, 100000, 100}, {8192, 401925, 2}, {221184, 401925, 55},
      {401925, 401925, 100}, {99999, 100001, 99},   {1, 0, 0}};
  for (const Case& c : cases) EXPECT_EQ(ProgressPercent(c.done, c.total), c.percent);
}

TEST(CodecRun, SourceCountZeroReadsNothingAndReportsNothing) {
  TRecordingStream source(test::Bytes("abc"));
  TRecordingStream sink;
  int reports = 0;
  TCodecSettings settings;
  settings.OnShowProgress = [&](int32_t&) { ++reports; };
  TCodecRun run(settings, sink, source, 0, TCodecMode::Expand, false);
  EXPECT_EQ(run.GetSourceByte(), 0);
  EXPECT_TRUE(run.EndOfInput);
  EXPECT_TRUE(source.ReadCalls.empty());
  EXPECT_EQ(reports, 0);
}

TEST(CodecRun, FullSinkBufferIsWrittenOnlyWhenTheNextByteArrives) {
  struct Case {
    int bytes;
    std::vector<std::size_t> whileRunning;
    std::vector<std::size_t> atEnd;
  };
  const Case cases[] = {{8191, {}, {8191}},
                        {8192, {}, {8192}},
                        {8193, {8192}, {8192, 1}},
                        {16384, {8192}, {8192, 8192}},
                        {0, {}, {}}};
  for (const Case& c : cases) {
    TRecordingStream source;
    TRecordingStream sink;
    TCodecRun run(TCodecSettings{}, sink, source, 0, TCodecMode::Expand, false);
    for (int i = 0; i < c.bytes; ++i) run.PutSinkByte(static_cast<uint8_t>(i));
    EXPECT_EQ(sink.WriteCalls, c.whileRunning) << c.bytes;
    run.FlushSink();
    EXPECT_EQ(sink.WriteCalls, c.atEnd) << c.bytes;
    EXPECT_EQ(sink.Data().size(), static_cast<std::size_t>(c.bytes));
  }
}

TEST(CodecRun, ProgressIsReportedOncePerChunkRead) {
  struct Case {
    int32_t count;
    std::vector<int32_t> reports;
  };
  std::vector<int32_t> big;
  for (int p = 2; p <= 52; p += 2) big.push_back(p);
  for (int p = 55; p <= 99; p += 2) big.push_back(p);
  big.push_back(100);
  const Case cases[] = {{20000, {40, 81, 100}}, {401925, big}, {1, {100}}};
  for (const Case& c : cases) {
    TRecordingStream source(std::vector<uint8_t>(static_cast<std::size_t>(c.count), 'x'));
    TRecordingStream sink;
    std::vector<int32_t> seen;
    TCodecSettings settings;
    settings.OnShowProgress = [&](int32_t& percent) { seen.push_back(percent); };
    TCodecRun run(settings, sink, source, c.count, TCodecMode::Expand, false);
    int32_t taken = 0;
    for (run.GetSourceByte(); !run.EndOfInput; run.GetSourceByte()) ++taken;
    EXPECT_EQ(taken, c.count);
    EXPECT_EQ(seen, c.reports) << c.count;
    EXPECT_EQ(source.ReadCalls.front(), std::min<std::size_t>(8192, c.count));
  }
}

TEST(CodecRun, CancelAtTheFirstReportEndsInputButKeepsTheChunk) {
  TRecordingStream source(test::Bytes("abcdef"));
  TRecordingStream sink;
  TCodecSettings settings;
  settings.OnShowProgress = [](int32_t& percent) { percent = -1; };
  TCodecRun run(settings, sink, source, 6, TCodecMode::Expand, false);
  EXPECT_EQ(run.GetSourceByte(), 0);
  EXPECT_TRUE(run.EndOfInput);
  // Later calls take the chunk already read, and EndOfInput stays set.
  EXPECT_EQ(run.GetSourceByte(), 'a');
  EXPECT_EQ(run.GetSourceByte(), 'b');
  EXPECT_TRUE(run.EndOfInput);
}

TEST(CodecRun, KeyBytesScrambleLeastSignificantFirst) {
  struct Case {
    int32_t key;
    TCodecMode mode;
    bool unscramble;
    std::vector<uint8_t> expected;
  };
  const std::vector<uint8_t> plain(6, 0);
  const Case cases[] = {
      {0x04030201, TCodecMode::Expand, true, {1, 2, 3, 4, 1, 2}},
      {0x04030201, TCodecMode::Expand, false, plain},
      {0, TCodecMode::Expand, true, plain},
      {-2, TCodecMode::Expand, true, {0xFE, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF}},
      {0x04030201, TCodecMode::Compress, false, {1, 2, 3, 4, 1, 2}},
      {0, TCodecMode::Compress, false, plain},
  };
  for (const Case& c : cases) {
    TCodecSettings settings;
    settings.Key = c.key;
    TRecordingStream source(plain);
    TRecordingStream sink;
    TCodecRun run(settings, sink, source, 6, c.mode, c.unscramble);
    std::vector<uint8_t> got;
    if (c.mode == TCodecMode::Expand) {
      for (int i = 0; i < 6; ++i) got.push_back(run.GetSourceByte());
      EXPECT_EQ(run.SourceSum, 0u);  // the sum is of the bytes as stored
    } else {
      for (int i = 0; i < 6; ++i) run.PutSinkByte(0);
      run.FlushSink();
      got = sink.Data();
      EXPECT_EQ(run.SinkSum, test::ByteSum(c.expected));  // the sum is of the bytes as placed
    }
    EXPECT_EQ(got, c.expected) << c.key;
  }
}

TEST(CodecRun, CompressionOutputLimitIsSourceCountLessReserve) {
  struct Case {
    int32_t count, reserve, accepted;
  };
  const Case cases[] = {{5, 0, 5}, {5, 2, 3}, {5, 5, 0}, {0, 0, 0}, {5, 7, 0}};
  for (const Case& c : cases) {
    TCodecSettings settings;
    settings.CompressReserve = c.reserve;
    TRecordingStream source;
    TRecordingStream sink;
    TCodecRun run(settings, sink, source, c.count, TCodecMode::Compress, false);
    for (int i = 0; i < c.accepted; ++i) run.PutSinkByte('x');
    try {
      run.PutSinkByte('x');
      FAIL() << "limit not enforced for " << c.count << "/" << c.reserve;
    } catch (const EUnableToCompress& e) {
      EXPECT_STREQ(e.what(), "Could not compress data");
    }
    EXPECT_EQ(run.SinkCount, c.accepted);
  }
}

TEST(RunCodec, MethodsWithoutARoutinePassNothing) {
  for (uint8_t method : {uint8_t{0}, uint8_t{3}, uint8_t{5}, uint8_t{7}, uint8_t{255}}) {
    for (TCodecMode mode : {TCodecMode::Expand, TCodecMode::Compress}) {
      TRecordingStream source(test::Bytes("some stored data"));
      TRecordingStream sink;
      uint32_t checksum = 12345;
      const int32_t result =
          RunCodec(TCodecSettings{}, sink, source, 16, 16, method, checksum, mode, false);
      EXPECT_EQ(checksum, 0u);
      EXPECT_EQ(result, 0);
      EXPECT_TRUE(sink.WriteCalls.empty());
      EXPECT_TRUE(source.ReadCalls.empty());
    }
  }
}

// RLE has no compressor; LZH and LH5 have one only in a program that registered it.
TEST(RunCodec, CompressionWithoutACompressorIsRefused) {
  struct Case {
    uint8_t method;
    bool registered;
    const char* message;
  };
  for (const Case& c : {Case{kMethodRle, true, "RLE compression disabled in this build"},
                        Case{kMethodLzh, false, "Compression disabled in this program"},
                        Case{kMethodLh5, false, "Compression disabled in this program"}}) {
    if (!c.registered) RegisterCompressor(c.method, nullptr);
    EXPECT_EQ(HasCompressor(c.method), false) << int{c.method};
    TRecordingStream source(test::Bytes("aaaa"));
    TRecordingStream sink;
    uint32_t checksum = 0;
    try {
      RunCodec(TCodecSettings{}, sink, source, 4, 0, c.method, checksum, TCodecMode::Compress,
               false);
      ADD_FAILURE() << int{c.method};
    } catch (const EUnrecognizedCompressionMethod& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_TRUE(source.ReadCalls.empty());
    RegisterCompressors();
  }
  EXPECT_TRUE(HasCompressor(kMethodLzh) && HasCompressor(kMethodLh5));
}

// A compression on several threads ends as on one: the same bytes, sums and writes, and the same
// error whether the coder's thread raises it (a full sink, output past the limit) or the
// calling thread (a cancel ends the input early, which is no error).
TEST(RunCodec, CompressionOnSeveralThreadsEndsAsOnOne) {
  struct TCase {
    const char* Name;
    test::TBytes Input;
    int32_t Reserve;
    std::size_t SinkAccepts;
    int CancelAt;  // the progress report that answers -1; 0 for none
  };
  const std::size_t none = std::numeric_limits<std::size_t>::max();
  const TCase cases[] = {
      {"text", test::TextBytes(300000, 3), -(1 << 20), none, 0},
      {"empty", {}, -(1 << 20), none, 0},
      {"noise past the limit", test::RandomBytes(100000, 4), 0, none, 0},
      {"sink full", test::TextBytes(300000, 5), -(1 << 20), 20000, 0},
      {"cancelled", test::TextBytes(300000, 6), -(1 << 20), none, 5},
  };
  struct TResult {
    std::string Error;
    test::TBytes Output;
    std::vector<std::size_t> Writes;
    uint32_t Checksum = 0;
    int32_t Packed = 0;
  };
  const auto run = [](const TCase& c, uint8_t method, unsigned threads) {
    TCodecSettings settings;
    settings.Threads = threads;
    settings.CompressReserve = c.Reserve;
    int reports = 0;
    settings.OnShowProgress = [&](int32_t& percent) {
      if (++reports == c.CancelAt) percent = -1;
    };
    TRecordingStream source(c.Input);
    source.ReadPiece = 8192;
    TRecordingStream sink;
    sink.Accept = c.SinkAccepts;
    TResult result;
    try {
      result.Packed = RunCodec(settings, sink, source, static_cast<int32_t>(c.Input.size()), 0,
                               method, result.Checksum, TCodecMode::Compress, false);
    } catch (const Exception& e) {
      result.Error = e.ClassName();
    }
    result.Output = sink.Data();
    result.Writes = sink.WriteCalls;
    return result;
  };
  for (const TCase& c : cases) {
    for (uint8_t method : {kMethodLzh, kMethodLh5}) {
      const TResult one = run(c, method, 1);
      for (unsigned threads : {2u, 3u}) {
        SCOPED_TRACE(std::string(c.Name) + ", method " + std::to_string(method) + ", " +
                     std::to_string(threads) + " threads");
        const TResult many = run(c, method, threads);
        EXPECT_EQ(many.Error, one.Error);
        EXPECT_EQ(many.Output, one.Output);
        EXPECT_EQ(many.Writes, one.Writes);
        EXPECT_EQ(many.Checksum, one.Checksum);
        EXPECT_EQ(many.Packed, one.Packed);
      }
      // Each case ends as it is meant to.
      const std::string expected = c.Reserve == 0          ? "EUnableToCompress"
                                   : c.SinkAccepts != none ? "EWriteError"
                                                           : "";
      EXPECT_EQ(one.Error, expected) << c.Name;
      if (c.CancelAt != 0) {
        EXPECT_LT(one.Checksum, test::ByteSum(c.Input)) << c.Name;
      }
    }
  }
}

TEST(RunCodec, SinkFailurePassesOutAndLeavesOnlyFullBuffersWritten) {
  std::vector<uint8_t> literals(20000, 'q');
  TRecordingStream source(literals);
  TRecordingStream sink;
  sink.Accept = 100;
  uint32_t checksum = 0;
  EXPECT_THROW(RunCodec(TCodecSettings{}, sink, source, 20000, 20000, kMethodRle, checksum,
                        TCodecMode::Expand, false),
               EWriteError);
  EXPECT_EQ(sink.WriteCalls, std::vector<std::size_t>{8192});
}

TEST(RunCodec, ExpansionChecksumIsTheSumOfTheBytesProduced) {
  const std::vector<uint8_t> stored = {0x41, 0x94, 0x05, 0xFF};
  TRecordingStream source(stored);
  TRecordingStream sink;
  uint32_t checksum = 0;
  RunCodec(TCodecSettings{}, sink, source, 4, 6, kMethodRle, checksum, TCodecMode::Expand, false);
  EXPECT_EQ(checksum, 5u * 0x41 + 0xFF);
  EXPECT_EQ(sink.WriteCalls, std::vector<std::size_t>{6});
}

// The span and word operations must leave a run exactly as the same bytes one at a time would:
// the same writes, sums, counts, key position, and the limit raised at the same byte.
TEST(CodecRun, SpansActLikeBytesOneAtATime) {
  struct Case {
    std::vector<std::size_t> spans;
    int32_t key;
    int32_t reserve;  // compressing: output limit is 20000 less this
  };
  const Case cases[] = {
      {{8192}, 0, 0},           {{8191, 1, 1}, 0, 0},     {{5000, 5000, 7000}, 0x1234567, 0},
      {{3, 16384, 3}, -5, 0},   {{12000, 9000}, 0, 1000},  // the limit falls inside the second span
      {{19000, 1000, 1}, 7, 0},  // exactly at the limit, then one byte more
  };
  const auto data = [](std::size_t i) { return static_cast<uint8_t>(i * 131 + (i >> 9)); };
  for (const Case& c : cases) {
    TCodecSettings settings;
    settings.Key = c.key;
    settings.CompressReserve = c.reserve;
    TRecordingStream source(std::vector<uint8_t>(20000, 1));
    TRecordingStream byteSink;
    TRecordingStream spanSink;
    TRecordingStream wordSink;
    TCodecRun bytes(settings, byteSink, source, 20000, TCodecMode::Compress, false);
    TCodecRun spans(settings, spanSink, source, 20000, TCodecMode::Compress, false);
    TCodecRun words(settings, wordSink, source, 20000, TCodecMode::Compress, false);
    std::size_t at = 0;
    for (std::size_t n : c.spans) {
      std::vector<uint8_t> span(n);
      for (std::size_t i = 0; i < n; ++i) span[i] = data(at + i);
      bool byteRaised = false;
      bool spanRaised = false;
      try {
        for (uint8_t b : span) bytes.PutSinkByte(b);
      } catch (const EUnableToCompress&) {
        byteRaised = true;
      }
      try {
        spans.PutSinkSpan(span.data(), n);
      } catch (const EUnableToCompress&) {
        spanRaised = true;
      }
      EXPECT_EQ(spanRaised, byteRaised);
      // The span as words of four bytes, highest first, and its last bytes one at a time.
      std::size_t wordBytes = 0;
      try {
        for (; wordBytes + 4 <= n; wordBytes += 4) {
          words.PutSinkWord(static_cast<uint32_t>(span[wordBytes] << 24 |
                                                  span[wordBytes + 1] << 16 |
                                                  span[wordBytes + 2] << 8 | span[wordBytes + 3]));
        }
        for (; wordBytes < n; ++wordBytes) words.PutSinkByte(span[wordBytes]);
      } catch (const EUnableToCompress&) {
        wordBytes = n + 1;
      }
      EXPECT_EQ(wordBytes > n, byteRaised);
      at += n;
    }
    for (TCodecRun* run : {&bytes, &spans, &words}) run->FlushSink();
    const uint8_t nextKeyByte = bytes.ScrambleByte(0);
    for (const auto& [sink, run] : {std::pair{&spanSink, &spans}, std::pair{&wordSink, &words}}) {
      EXPECT_EQ(sink->WriteCalls, byteSink.WriteCalls);
      EXPECT_EQ(sink->Data(), byteSink.Data());
      EXPECT_EQ(run->SinkSum, bytes.SinkSum);
      EXPECT_EQ(run->SinkCount, bytes.SinkCount);
      EXPECT_EQ(run->SinkLimit, bytes.SinkLimit);
      EXPECT_EQ(run->ScrambleByte(0), nextKeyByte);  // the same key position
    }
  }
}

TEST(CodecRun, TakenSourceBytesActLikeGetSourceByte) {
  std::vector<uint8_t> input(9000);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<uint8_t>(i * 7 + 3);
  for (int32_t key : {0, 0x5A3C9617}) {
    TCodecSettings settings;
    settings.Key = key;
    TRecordingStream byteSource(input);
    TRecordingStream spanSource(input);
    TRecordingStream sink;
    TCodecRun bytes(settings, sink, byteSource, 9000, TCodecMode::Expand, true);
    TCodecRun spans(settings, sink, spanSource, 9000, TCodecMode::Expand, true);
    std::vector<uint8_t> byByte;
    std::vector<uint8_t> bySpan;
    for (uint8_t b = bytes.GetSourceByte(); !bytes.EndOfInput; b = bytes.GetSourceByte()) {
      byByte.push_back(b);
    }
    // The first byte refills the buffer; spans of 5 then take what it holds.
    for (uint8_t b = spans.GetSourceByte(); !spans.EndOfInput; b = spans.GetSourceByte()) {
      bySpan.push_back(b);
      while (spans.SourceBuffered() > 0) {
        uint8_t taken[5];
        const std::size_t n = std::min<std::size_t>(5, spans.SourceBuffered());
        spans.TakeSourceBytes(taken, n);
        bySpan.insert(bySpan.end(), taken, taken + n);
      }
    }
    EXPECT_EQ(bySpan, byByte);
    EXPECT_EQ(spans.SourceSum, bytes.SourceSum);
    EXPECT_EQ(spanSource.ReadCalls, byteSource.ReadCalls);
  }
}

// How an expansion ended: the class raised (empty for none) and the bytes it wrote.
struct TExpansion {
  std::string Error;
  std::vector<uint8_t> Output;
};

TExpansion ExpandWith(uint8_t method, const std::vector<uint8_t>& packed, int32_t count,
                      int cancelAt = 0) {
  TRecordingStream source(packed);
  TRecordingStream sink;
  TCodecSettings settings;
  int reports = 0;
  settings.OnShowProgress = [&](int32_t& percent) {
    if (++reports == cancelAt) percent = -1;
  };
  TExpansion result;
  uint32_t checksum = 0;
  try {
    RunCodec(settings, sink, source, static_cast<int32_t>(packed.size()), count, method, checksum,
             TCodecMode::Expand, false);
  } catch (const Exception& e) {
    result.Error = e.ClassName();
  }
  result.Output = sink.Data();
  return result;
}

// A sound stream never needs a bit past its last byte: one that would is cut short and fails
// at once, and no expansion writes more than its count. A cancel also ends the input, but
// fails with its own class.
TEST(RunCodec, ExpansionPastTheEndOfTheInputFails) {
  const std::vector<uint8_t> plain = test::TextBytes(150000, 5);
  const auto size = static_cast<int32_t>(plain.size());
  for (uint8_t method : {kMethodLzh, kMethodLh5}) {
    SCOPED_TRACE("method " + std::to_string(method));
    const std::vector<uint8_t> packed = test::CompressBytes(method, plain);
    ASSERT_GT(packed.size(), 2 * TCodecRun::kBufferSize);  // room for a cancel mid-stream
    const auto cut = [&](std::size_t n) {
      return std::vector<uint8_t>(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(n));
    };
    struct Case {
      const char* what;
      std::vector<uint8_t> stream;
      int32_t count;
      int cancelAt;
      const char* error;
      std::size_t written;  // bytes of plain that reach the sink; all when no error
    };
    const Case cases[] = {
        {"the whole stream", packed, size, 0, "", plain.size()},
        {"a count below the size stops there", packed, 1000, 0, "", 1000},
        {"a count one past the size", packed, size + 1, 0, "EReadError", 0},
        {"no input at all", {}, 1000, 0, "EReadError", 0},
        {"one byte", cut(1), size, 0, "EReadError", 0},
        {"all but the last byte", cut(packed.size() - 1), size, 0, "EReadError", 0},
        {"a cancel at the first report", packed, size, 1, "ECancelled", 0},
        {"a cancel at the second report", packed, size, 2, "ECancelled", 0},
    };
    for (const Case& c : cases) {
      const TExpansion e = ExpandWith(method, c.stream, c.count, c.cancelAt);
      EXPECT_EQ(e.Error, c.error) << c.what;
      if (c.error[0] == '\0') {
        EXPECT_EQ(e.Output, std::vector<uint8_t>(plain.begin(), plain.begin() + c.count)) << c.what;
      } else {
        // Only whole sink buffers of good bytes were written before the failure.
        EXPECT_EQ(e.Output.size() % TCodecRun::kBufferSize, 0u) << c.what;
        EXPECT_TRUE(std::equal(e.Output.begin(), e.Output.end(), plain.begin())) << c.what;
      }
    }
    // Every cut of a short stream fails: its last byte holds bits that decoding needs.
    const std::vector<uint8_t> shortPlain(plain.begin(), plain.begin() + 300);
    const std::vector<uint8_t> shortPacked = test::CompressBytes(method, shortPlain);
    EXPECT_EQ(ExpandWith(method, shortPacked, 300).Output, shortPlain);
    for (std::size_t n = 0; n < shortPacked.size(); ++n) {
      const std::vector<uint8_t> shortCut(shortPacked.begin(),
                                          shortPacked.begin() + static_cast<std::ptrdiff_t>(n));
      EXPECT_EQ(ExpandWith(method, shortCut, 300).Error, "EReadError") << n;
    }
  }
  // RLE has no size: its stream ends with the input, but not inside an escape, nor by a cancel.
  EXPECT_EQ(ExpandWith(kMethodRle, {0x41, 0x94, 0x03}, 0).Error, "");
  EXPECT_EQ(ExpandWith(kMethodRle, {0x41, 0x94}, 0).Error, "EReadError");
  EXPECT_EQ(ExpandWith(kMethodRle, {0x41, 0x94, 0x03}, 0, 1).Error, "ECancelled");
}

// The expanders decode without checks while a whole item lies in the chunk at hand and with
// checks near its end: a source that delivers short chunks moves every item across those
// borders, and the output must not change.
TEST(RunCodec, ExpansionIsTheSameForAnyChunksTheSourceDelivers) {
  std::vector<uint8_t> plain = test::TextBytes(40000, 3);
  const std::vector<uint8_t> noise = test::RandomBytes(20000, 4);
  plain.insert(plain.end(), noise.begin(), noise.end());
  plain.insert(plain.end(), 3000, 0);
  const auto size = static_cast<int32_t>(plain.size());
  for (uint8_t method : {kMethodLzh, kMethodLh5}) {
    const std::vector<uint8_t> packed = test::CompressBytes(method, plain);
    for (std::size_t piece : {1, 2, 7, 8, 9, 61, 4097}) {
      TRecordingStream chunked(packed);
      chunked.ReadPiece = piece;
      TRecordingStream sink;
      uint32_t checksum = 0;
      RunCodec(TCodecSettings{}, sink, chunked, static_cast<int32_t>(packed.size()), size, method,
               checksum, TCodecMode::Expand, false);
      EXPECT_EQ(sink.Data(), plain) << "method " << int{method} << ", pieces of " << piece;
    }
  }
}

// The wide match copy against a byte-at-a-time one, for every period below and around each
// width it copies in, and lengths up to a window's longest match.
TEST(ExpandOutput, MatchCopiesAsOneByteAtATime) {
  for (std::size_t distance = 1; distance <= 40; ++distance) {
    for (std::size_t length = 1; length <= 64; ++length) {
      std::vector<uint8_t> wide(distance + length + kCopyOvershoot);
      for (std::size_t i = 0; i < distance; ++i) wide[i] = static_cast<uint8_t>(i * 37 + 1);
      std::vector<uint8_t> plain = wide;
      for (std::size_t i = distance; i < distance + length; ++i) plain[i] = plain[i - distance];
      const uint8_t* end = CopyMatch(wide.data() + distance, distance, length);
      EXPECT_EQ(end, wide.data() + distance + length);
      EXPECT_TRUE(std::equal(plain.begin(),
                             plain.begin() + static_cast<std::ptrdiff_t>(distance + length),
                             wide.begin()))
          << "distance " << distance << ", length " << length;
    }
  }
}

}  // namespace
}  // namespace vo
