// Golden output of both compressors: the exact compressed bytes for a fixed set of generated
// inputs, and the exact order of reads, writes and progress reports when they are expanded
// again. Any change to the codecs that alters one output byte, or when a stream is read or
// written, fails here. The recorded values were taken from the byte-at-a-time codecs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "codec/engine.h"
#include "core/exception.h"
#include "core/memory_stream.h"
#include "tests/support/bytes.h"

namespace vo {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kFnvOffset = 0xCBF29CE484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;

uint64_t Fnv1a(const uint8_t* data, std::size_t size, uint64_t hash = kFnvOffset) {
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ data[i]) * kFnvPrime;
  return hash;
}

uint64_t Fnv1a(const Bytes& data) {
  return Fnv1a(data.data(), data.size());
}

// A generator of our own, so the inputs are the same with every standard library.
class TSplitMix {
 public:
  explicit TSplitMix(uint64_t seed) : State(seed) {}
  uint64_t Next() {
    uint64_t z = (State += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  unsigned Below(unsigned n) { return static_cast<unsigned>(Next() % n); }

 private:
  uint64_t State;
};

// Words from a small vocabulary, with lines and a phrase that recurs at varying distances.
Bytes MakeText(std::size_t size, uint64_t seed) {
  static const char* const kWords[] = {
      "the",   "archive", "entry",  "window", "of",     "and",   "install", "setup",
      "a",     "block",   "stream", "byte",   "length", "code",  "offset",  "table",
      "files", "to",      "is",     "with",   "system", "error", "copy",    "header"};
  TSplitMix rng(seed);
  Bytes out;
  std::string phrase = "Please insert the next disk and press Enter to continue.";
  while (out.size() < size) {
    if (rng.Below(40) == 0) {
      out.insert(out.end(), phrase.begin(), phrase.end());
    } else {
      const std::string word = kWords[rng.Below(std::size(kWords))];
      out.insert(out.end(), word.begin(), word.end());
    }
    out.push_back(rng.Below(12) == 0 ? '\n' : ' ');
  }
  out.resize(size);
  return out;
}

// Like an executable: stretches of noise, of small integers, of zeros, and repeats of earlier
// stretches at near and far distances (beyond both windows too).
Bytes MakeBinary(std::size_t size, uint64_t seed) {
  TSplitMix rng(seed);
  Bytes out;
  while (out.size() < size) {
    const unsigned length = 1 + rng.Below(300);
    switch (rng.Below(5)) {
      case 0:
        for (unsigned i = 0; i < length; ++i) out.push_back(static_cast<uint8_t>(rng.Next()));
        break;
      case 1:
        for (unsigned i = 0; i < length; ++i) out.push_back(static_cast<uint8_t>(rng.Below(16)));
        break;
      case 2:
        out.insert(out.end(), length, uint8_t{0});
        break;
      default:
        if (out.size() > 1) {
          const std::size_t back = 1 + rng.Below(static_cast<unsigned>(std::min<std::size_t>(
                                           out.size(), rng.Below(2) ? 300 : 20000)));
          for (unsigned i = 0; i < length; ++i) out.push_back(out[out.size() - back]);
        }
    }
  }
  out.resize(size);
  return out;
}

// Runs of one byte, short and long (past both longest matches).
Bytes MakeRuns(std::size_t size, uint64_t seed) {
  TSplitMix rng(seed);
  Bytes out;
  while (out.size() < size) {
    const unsigned length = 1 + rng.Below(rng.Below(4) == 0 ? 2000 : 70);
    out.insert(out.end(), length, static_cast<uint8_t>(rng.Below(4)));
  }
  out.resize(size);
  return out;
}

// Text and binary by turns, cut at a given size.
Bytes MakeMixed(std::size_t size) {
  Bytes out;
  for (uint64_t part = 0; out.size() < size; ++part) {
    const Bytes piece = part % 2 == 0 ? MakeText(9000, part) : MakeBinary(7000, part);
    out.insert(out.end(), piece.begin(), piece.end());
  }
  out.resize(size);
  return out;
}

struct TCorpus {
  std::string Name;
  Bytes Data;
};

std::vector<TCorpus> MakeCorpora() {
  std::vector<TCorpus> corpora = {{"text", MakeText(300000, 1)},
                                  {"binary", MakeBinary(300000, 2)},
                                  {"runs", MakeRuns(200000, 3)}};
  // Sizes at the edges of the windows, the slide, the block queue and the stream buffers.
  for (std::size_t size : {1, 2, 3, 60, 61, 4096, 4097, 8192, 8193, 8448, 8449, 16383, 16384, 16641,
                           16642, 70000, 200000}) {
    corpora.push_back({"mixed" + std::to_string(size), MakeMixed(size)});
  }
  return corpora;
}

// Streams that log, in order, each transfer into one trace shared with the progress handler.
class TTracingStream final : public TStream {
 public:
  TTracingStream(Bytes data, uint64_t kind, std::vector<uint64_t>& trace)
      : Inner(std::move(data)), Kind(kind), Trace(trace) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t n = Inner.Read(buffer, count);
    Trace.push_back(Kind << 32 | n);
    return n;
  }
  std::size_t Write(const void* buffer, std::size_t count) override {
    Trace.push_back(Kind << 32 | count);
    return Inner.Write(buffer, std::min(count, Accept - std::min(Accept, Inner.Data.size())));
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return Inner.Seek(offset, origin); }
  int64_t Size() override { return Inner.Size(); }

  TMemoryStream Inner;
  std::size_t Accept = SIZE_MAX;  // bytes it takes in all

 private:
  uint64_t Kind;
  std::vector<uint64_t>& Trace;
};

constexpr uint64_t kTraceRead = 1;
constexpr uint64_t kTraceWrite = 2;
constexpr uint64_t kTraceProgress = 3;
constexpr int32_t kKey = 0x5A3C9617;

struct TRun {
  Bytes Output;
  uint32_t Checksum = 0;
  std::vector<uint64_t> Trace;
  uint64_t TraceHash = 0;
  std::string Error;  // the class raised, if any
};

uint64_t TraceHash(const std::vector<uint64_t>& trace) {
  return Fnv1a(reinterpret_cast<const uint8_t*>(trace.data()), trace.size() * sizeof(trace[0]));
}

// cancelAt: the progress report (from 1) that answers -1; 0 for none.
TRun RunTraced(const Bytes& input, uint8_t method, TCodecMode mode, int32_t key, int32_t outputSize,
               int cancelAt = 0) {
  std::vector<uint64_t> trace;
  TTracingStream source(input, kTraceRead, trace);
  TTracingStream sink({}, kTraceWrite, trace);
  TCodecSettings settings;
  settings.Key = key;
  settings.CompressReserve = -static_cast<int32_t>(2 * input.size() + 1024);
  int reports = 0;
  settings.OnShowProgress = [&](int32_t& percent) {
    trace.push_back(kTraceProgress << 32 | static_cast<uint32_t>(percent));
    if (++reports == cancelAt) percent = -1;
  };
  TRun run;
  try {
    RunCodec(settings, sink, source, static_cast<int32_t>(input.size()), outputSize, method,
             run.Checksum, mode, true);
  } catch (const Exception& e) {
    run.Error = e.ClassName();
  }
  run.Output = std::move(sink.Inner.Data);
  run.TraceHash = TraceHash(trace);
  run.Trace = std::move(trace);
  return run;
}

// A compression on threads threads, untraced: its sink is written from the coder's thread.
Bytes CompressOnThreads(const Bytes& input, uint8_t method, unsigned threads) {
  TMemoryStream source(input);
  TMemoryStream sink;
  TCodecSettings settings;
  settings.CompressReserve = -static_cast<int32_t>(2 * input.size() + 1024);
  settings.Threads = threads;
  uint32_t checksum = 0;
  RunCodec(settings, sink, source, static_cast<int32_t>(input.size()), 0, method, checksum,
           TCodecMode::Compress, false);
  return std::move(sink.Data);
}

// The traces behind the recorded hashes, in readable form: a line per run, its name and then
// its events ("r8192" a read of 8192 bytes, "w8192" a write, "p45" a progress report of 45).
// Only the hashes decide; the traces tell a failing run where it first went another way.
// VO_GOLDEN_TRACES_OUT=FILE writes this run's traces to FILE, to record them anew.
using TTraces = std::map<std::string, std::vector<uint64_t>>;
constexpr char kEventLetters[] = " rwp";  // by kind: kTraceRead, kTraceWrite, kTraceProgress

std::string EventText(uint64_t event) {
  const uint64_t kind = event >> 32;
  const auto value = static_cast<int32_t>(event & 0xFFFFFFFF);
  return (kind < std::size(kEventLetters) - 1 ? kEventLetters[kind] : '?') + std::to_string(value);
}

TTraces LoadTraces() {
  TTraces traces;
  std::ifstream in(VO_GOLDEN_TRACES);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string name, method, event;
    words >> name >> method;
    std::vector<uint64_t>& trace = traces[name + " " + method];
    while (words >> event) {
      const auto kind = static_cast<uint64_t>(std::string(kEventLetters).find(event[0]));
      trace.push_back(kind << 32 | static_cast<uint32_t>(std::stoi(event.substr(1))));
    }
  }
  return traces;
}

const TTraces& RecordedTraces() {
  static const TTraces traces = LoadTraces();
  return traces;
}

// Says where the run's trace first leaves the recorded one, with the events just before.
std::string TraceDifference(const std::string& name, const std::vector<uint64_t>& actual) {
  const auto recorded = RecordedTraces().find(name);
  if (recorded == RecordedTraces().end()) return "no recorded trace for " + name;
  const std::vector<uint64_t>& expected = recorded->second;
  const auto [ours, theirs] =
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  const auto at = static_cast<std::size_t>(ours - actual.begin());
  if (ours == actual.end() && theirs == expected.end()) return name + ": the traces are equal";
  std::string text = name + ": the traces first differ at event " + std::to_string(at + 1) +
                     " (recorded " + std::to_string(expected.size()) + " events, now " +
                     std::to_string(actual.size()) + "): recorded " +
                     (theirs == expected.end() ? "the end" : EventText(*theirs)) + ", now " +
                     (ours == actual.end() ? "the end" : EventText(*ours));
  text += "; the events before it:";
  for (std::size_t i = at > 6 ? at - 6 : 0; i < at; ++i) text += " " + EventText(actual[i]);
  return text;
}

// Adds this run's trace to the file named by VO_GOLDEN_TRACES_OUT, when it is set.
void RecordTrace(const std::string& name, const std::vector<uint64_t>& trace) {
  const char* out = std::getenv("VO_GOLDEN_TRACES_OUT");
  if (out == nullptr) return;
  std::ofstream file(out, std::ios::app);
  file << name;
  for (uint64_t event : trace) file << ' ' << EventText(event);
  file << '\n';
}

// Checks a run's trace against its recorded hash, telling where it first differs.
void ExpectTrace(const std::string& name, const TRun& run, uint64_t recordedHash) {
  RecordTrace(name, run.Trace);
  if (run.TraceHash != recordedHash) ADD_FAILURE() << TraceDifference(name, run.Trace);
}

// One recorded result: the compressed stream, and the trace of expanding it again.
struct TGolden {
  const char* Corpus;
  uint8_t Method;
  std::size_t PackedSize;
  uint64_t PackedHash;
  uint64_t ExpandTrace;
};

const TGolden kGolden[] = {
    {"text", 2, 58536, 0x2C868A27507698AFull, 0x4D2060E73F24E4F5ull},
    {"text", 4, 51636, 0x153429E772047D45ull, 0xAD48E4F1501948FBull},
    {"binary", 2, 137088, 0xC936992CE3630163ull, 0xE0CB2B732FDA4111ull},
    {"binary", 4, 128334, 0xA93F92CC238953E5ull, 0x151B549B13B1F2B4ull},
    {"runs", 2, 4982, 0x318FEAE72F10B229ull, 0x8F73DFEE0C5B9265ull},
    {"runs", 4, 1281, 0xFD14C67949B8724Full, 0x437571794E3C86B4ull},
    {"mixed1", 2, 2, 0x0A964007B6F328C1ull, 0x3D6B61AC2548FBE2ull},
    {"mixed1", 4, 7, 0xAED42BE1D4900084ull, 0x0BDDC057BB913E87ull},
    {"mixed2", 2, 3, 0xF0A0961BDF51529Full, 0xCD9BCDEDCAA87DE0ull},
    {"mixed2", 4, 10, 0x6F9B06C156F442D2ull, 0x4FAE5083D88F3B09ull},
    {"mixed3", 2, 4, 0x320C0E5C770F34AAull, 0xE3917CFF2D5CAEA6ull},
    {"mixed3", 4, 11, 0x622A422FB2F0F539ull, 0x21D3DED4C0E71B09ull},
    {"mixed60", 2, 58, 0x1A8FCC950D454EEEull, 0xDC3871010C4DE447ull},
    {"mixed60", 4, 53, 0x4D5D0E70F5C492DDull, 0xB62D1FF71AFCCCE8ull},
    {"mixed61", 2, 59, 0x67A123458CBFFB38ull, 0xAE5DFF51F4A5C447ull},
    {"mixed61", 4, 54, 0xEE77C77F245DA22Cull, 0x5D28A1B4108AB0AAull},
    {"mixed4096", 2, 1046, 0x384D0DDD6C1BF0BCull, 0xBB2C3A81B2025B4Bull},
    {"mixed4096", 4, 953, 0x31FB57F69C05C7DBull, 0xB09FE18795238CB9ull},
    {"mixed4097", 2, 1046, 0x56FBC2DE0EB93F1Eull, 0x4680E4C2E18D6C8Aull},
    {"mixed4097", 4, 953, 0x88A519E6FFEDAF7Eull, 0x91A51A7E8A344298ull},
    {"mixed8192", 2, 1886, 0x1065F76384580780ull, 0xE39D76F53D0F4406ull},
    {"mixed8192", 4, 1723, 0xB686F2C2EED1CA8Bull, 0x4A1002EF98C29230ull},
    {"mixed8193", 2, 1887, 0x1C036B19D377469Cull, 0xF90445B700CB8674ull},
    {"mixed8193", 4, 1723, 0xC4FB5CC2F6314A95ull, 0xA6DB6D3101817B73ull},
    {"mixed8448", 2, 1933, 0xB0500819D87361C1ull, 0xBDDD0213F025E024ull},
    {"mixed8448", 4, 1767, 0x3AA0FE904E0D62B2ull, 0xCD8F6428B9F9AEBDull},
    {"mixed8449", 2, 1934, 0x29D804EC90C21CA5ull, 0xEAB6725144F958DEull},
    {"mixed8449", 4, 1768, 0x5730F5FAE176E8D2ull, 0x99A4B3CD6B7052EBull},
    {"mixed16383", 2, 5030, 0x70EC50DB7ACD59F0ull, 0xEFD3FFE49B80FF32ull},
    {"mixed16383", 4, 4740, 0x86335AEB44A18900ull, 0xF4EC51B54A30E9A7ull},
    {"mixed16384", 2, 5030, 0x67FBF7DB75A99268ull, 0x20C6D6FE551F21E8ull},
    {"mixed16384", 4, 4741, 0x04A9C40F70F1BDD2ull, 0xF671FEB2F018E2E0ull},
    {"mixed16641", 2, 5123, 0x407B6B26205DBCC4ull, 0x8206ED0E82CF7D68ull},
    {"mixed16641", 4, 4825, 0x3517082376DD2FCAull, 0xF0215F287F3B8788ull},
    {"mixed16642", 2, 5123, 0xE9DDDD25EF4FE9D6ull, 0xAB915B4D8A3D5F83ull},
    {"mixed16642", 4, 4825, 0x2A69FD23704003C7ull, 0x19ABCD6786A969A3ull},
    {"mixed70000", 2, 22135, 0xB047AB690E07F8C4ull, 0x3151DEFE6FEB39F0ull},
    {"mixed70000", 4, 20770, 0x60AE6D7A309E5265ull, 0x243FFBFE8CD09FDAull},
    {"mixed200000", 2, 61878, 0xF8E4CA24930748F8ull, 0xC22E2D941D3FB940ull},
    {"mixed200000", 4, 57650, 0x1C200A7652BDDBE6ull, 0xD4ED7B5A8017CDD0ull},
};

TGolden GoldenRow(const std::string& corpus, uint8_t method) {
  for (const TGolden& row : kGolden)
    if (row.Corpus == corpus && row.Method == method) return row;
  return {};
}

std::string RowText(const std::string& corpus, uint8_t method, std::size_t size, uint64_t hash,
                    uint64_t trace) {
  char line[160];
  std::snprintf(line, sizeof line, "{\"%s\", %u, %zu, 0x%016" PRIX64 "ull, 0x%016" PRIX64 "ull},",
                corpus.c_str(), method, size, hash, trace);
  return line;
}

TEST(CodecGolden, CompressedBytesAndExpansionTraceNeverChange) {
  std::size_t total = 0;
  std::size_t checked = 0;
  for (const TCorpus& corpus : MakeCorpora()) {
    total += corpus.Data.size();
    for (uint8_t method : {kMethodLzh, kMethodLh5}) {
      SCOPED_TRACE(corpus.Name + " method " + std::to_string(method));
      const TRun packed = RunTraced(corpus.Data, method, TCodecMode::Compress, 0, 0);
      EXPECT_EQ(packed.Checksum, test::ByteSum(corpus.Data));
      // The recorded bytes are those of every thread count.
      EXPECT_TRUE(CompressOnThreads(corpus.Data, method, 2) == packed.Output);
      const auto size = static_cast<int32_t>(corpus.Data.size());
      const TRun plain = RunTraced(packed.Output, method, TCodecMode::Expand, 0, size);
      EXPECT_EQ(plain.Output, corpus.Data);
      EXPECT_EQ(plain.Checksum, test::ByteSum(corpus.Data));
      const std::string actual =
          RowText(corpus.Name, method, packed.Output.size(), Fnv1a(packed.Output), plain.TraceHash);
      std::string expected = "(no recorded row)";
      for (const TGolden& row : kGolden) {
        if (row.Corpus == corpus.Name && row.Method == method) {
          expected =
              RowText(row.Corpus, row.Method, row.PackedSize, row.PackedHash, row.ExpandTrace);
          ++checked;
        }
      }
      EXPECT_EQ(actual, expected);
      ExpectTrace(corpus.Name + " " + std::to_string(method), plain,
                  GoldenRow(corpus.Name, method).ExpandTrace);
    }
  }
  EXPECT_GT(total, std::size_t{1} << 20);
  EXPECT_EQ(checked, std::size(kGolden));
}

// The key scrambles the compressed bytes as they leave and unscrambles them as they come back;
// a cancel at the third report ends the input, and the expansion fails where it needs more.
TEST(CodecGolden, KeyedAndCancelledRunsNeverChange) {
  const Bytes text = MakeText(200000, 7);
  struct TCase {
    uint8_t Method;
    uint64_t KeyedHash;
    uint64_t KeyedTrace;
    uint64_t CancelledHash;
    uint64_t CancelledTrace;
  };
  const TCase cases[] = {
      {2, 0xD5557CCA1DDE3773ull, 0x72F1D6D9BEB7D4A4ull, 0x741962A8A480D649ull,
       0x4EE960E00069F4C7ull},
      {4, 0x5E6917DC535DEAEEull, 0x5CC80FB43678C8EAull, 0x5CC42C64E096E8FCull,
       0x67CCFDA95CE2061Aull},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("method " + std::to_string(c.Method));
    const TRun packed = RunTraced(text, c.Method, TCodecMode::Compress, kKey, 0);
    const auto size = static_cast<int32_t>(text.size());
    const TRun plain = RunTraced(packed.Output, c.Method, TCodecMode::Expand, kKey, size);
    EXPECT_EQ(plain.Output, text);
    const TRun cancelled = RunTraced(packed.Output, c.Method, TCodecMode::Expand, kKey, size, 3);
    EXPECT_EQ(plain.Error, "");
    EXPECT_EQ(cancelled.Error, "ECancelled");
    EXPECT_LT(cancelled.Output.size(), text.size());
    char actual[200];
    std::snprintf(actual, sizeof actual,
                  "{%u, 0x%016" PRIX64 "ull, 0x%016" PRIX64 "ull, 0x%016" PRIX64
                  "ull, 0x%016" PRIX64 "ull},",
                  c.Method, Fnv1a(packed.Output), plain.TraceHash, Fnv1a(cancelled.Output),
                  cancelled.TraceHash);
    char expected[200];
    std::snprintf(expected, sizeof expected,
                  "{%u, 0x%016" PRIX64 "ull, 0x%016" PRIX64 "ull, 0x%016" PRIX64
                  "ull, 0x%016" PRIX64 "ull},",
                  c.Method, c.KeyedHash, c.KeyedTrace, c.CancelledHash, c.CancelledTrace);
    EXPECT_STREQ(actual, expected);
    ExpectTrace("keyed " + std::to_string(c.Method), plain, c.KeyedTrace);
    ExpectTrace("cancelled " + std::to_string(c.Method), cancelled, c.CancelledTrace);
  }
}

// The readable traces are those the hashes were taken of, so that a failure's account of where
// a trace went another way is true.
TEST(CodecGolden, RecordedTracesAreThoseOfTheHashes) {
  std::vector<std::pair<std::string, uint64_t>> hashes;
  for (const TGolden& row : kGolden)
    hashes.emplace_back(std::string(row.Corpus) + " " + std::to_string(row.Method),
                        row.ExpandTrace);
  const TTraces& traces = RecordedTraces();
  for (const auto& [name, hash] : hashes) {
    const auto trace = traces.find(name);
    ASSERT_NE(trace, traces.end()) << name;
    EXPECT_EQ(TraceHash(trace->second), hash) << name;
  }
  EXPECT_EQ(TraceDifference("text 2", traces.at("text 2")), "text 2: the traces are equal");
  std::vector<uint64_t> changed = traces.at("text 2");
  changed[5] = kTraceWrite << 32 | 1;
  EXPECT_EQ(TraceDifference("text 2", changed).substr(0, 52),
            "text 2: the traces first differ at event 6 (recorded");
}

// Expanding into a sink that stops taking bytes: the run fails at the first short write and
// makes no other, however the expander gathers its output.
TEST(CodecSpans, ExpansionIntoAFailingSinkMakesNoWriteAfterTheFailure) {
  const Bytes plain = MakeMixed(70000);
  for (uint8_t method : {kMethodLzh, kMethodLh5}) {
    const TRun packed = RunTraced(plain, method, TCodecMode::Compress, 0, 0);
    for (std::size_t full : {1, 2, 3, 4, 5, 6, 7}) {
      SCOPED_TRACE("method " + std::to_string(method) + ", full writes " + std::to_string(full));
      std::vector<uint64_t> trace;
      TTracingStream source(packed.Output, kTraceRead, trace);
      TTracingStream sink({}, kTraceWrite, trace);
      sink.Accept = full * TCodecRun::kBufferSize + 100;
      uint32_t checksum = 0;
      EXPECT_THROW(
          RunCodec(TCodecSettings{}, sink, source, static_cast<int32_t>(packed.Output.size()),
                   static_cast<int32_t>(plain.size()), method, checksum, TCodecMode::Expand, false),
          EWriteError);
      std::size_t writes = 0;
      for (uint64_t event : trace) {
        if (event >> 32 == kTraceWrite) {
          EXPECT_EQ(event & 0xFFFFFFFF, TCodecRun::kBufferSize);
          ++writes;
        }
      }
      EXPECT_EQ(writes, full + 1);
      EXPECT_EQ(sink.Inner.Data, Bytes(plain.begin(), plain.begin() + sink.Accept));
    }
  }
}

}  // namespace
}  // namespace vo
