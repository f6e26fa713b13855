// `voarc raw`: bare codec streams, no archive around them, from standard input to standard
// output.
#include <algorithm>
#include <limits>
#include <thread>

#include "codec/engine.h"
#include "core/stdio_stream.h"
#include "tools/voarc/cli.h"

namespace vo::voarc {

namespace {

constexpr int32_t kUnbounded = std::numeric_limits<int32_t>::max();

struct TRawOptions {
  std::string Method = "lh5";
  int32_t Size = 0;
  unsigned Jobs = 0;  // 0: the number of processors
};

void RunRaw(TCodecMode mode, const TRawOptions& options) {
  TStdioStream in(TStdioStream::TChannel::Input);
  TStdioStream out(TStdioStream::TChannel::Output);
  // The source runs until standard input ends; a compression is never refused for not
  // shrinking, so its output limit is as wide as the engine allows.
  TCodecSettings settings;
  // Only a compression uses threads: an expansion does not ask how many processors there are.
  if (mode == TCodecMode::Compress) {
    settings.Threads =
        options.Jobs != 0 ? options.Jobs : std::max(1u, std::thread::hardware_concurrency());
  }
  uint32_t checksum = 0;
  RunCodec(settings, out, in, kUnbounded, options.Size, MethodOfName(options.Method), checksum,
           mode, false);
  out.Flush();
}

}  // namespace

void RegisterRawCommands(CLI::App& app, TGlobalOptions&) {
  auto* raw = app.add_subcommand("raw", "compress or expand a bare codec stream (stdin to stdout)");
  raw->require_subcommand(1);
  auto options = std::make_shared<TRawOptions>();

  auto* compress = raw->add_subcommand("compress", "compress standard input to standard output");
  compress->add_option("-m,--method", options->Method, "lh5 or lzh")
      ->check(CLI::IsMember(MethodNames({kMethodLh5, kMethodLzh})))
      ->required();
  compress
      ->add_option("-j,--jobs", options->Jobs,
                   "compress on N threads (default: the number of processors); the bytes are "
                   "the same for every N")
      ->check(CLI::Range(1u, 256u));
  compress->callback([options] { RunRaw(TCodecMode::Compress, *options); });

  auto* expand = raw->add_subcommand("expand", "expand standard input to standard output");
  expand->add_option("-m,--method", options->Method, "lh5, lzh or rle")
      ->check(CLI::IsMember(MethodNames({kMethodLh5, kMethodLzh, kMethodRle})))
      ->required();
  expand->add_option("-n,--size", options->Size, "number of bytes the stream expands to")
      ->check(CLI::Range(0, kUnbounded))
      ->required();
  expand->callback([options] { RunRaw(TCodecMode::Expand, *options); });
}

}  // namespace vo::voarc
