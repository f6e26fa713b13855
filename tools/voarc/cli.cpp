#include "tools/voarc/cli.h"

#include <cstdio>
#include <limits>

#include "core/stdio_stream.h"

namespace vo::voarc {

std::optional<int32_t> ParseKey(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  std::size_t used = 0;
  try {
    if (hex) {
      if (text.size() > 10 || text[2] == '-' || text[2] == '+') return std::nullopt;
      const unsigned long long v = std::stoull(text.substr(2), &used, 16);
      if (used != text.size() - 2) return std::nullopt;
      return static_cast<int32_t>(static_cast<uint32_t>(v));
    }
    const long long v = std::stoll(text, &used, 10);
    if (used != text.size() || v < std::numeric_limits<int32_t>::min() ||
        v > std::numeric_limits<int32_t>::max() || text[0] == '+' || text[0] == ' ')
      return std::nullopt;
    return static_cast<int32_t>(v);
  } catch (const std::logic_error&) {
    return std::nullopt;
  }
}

CLI::Option* AddKeyOption(CLI::App& command, std::string& text) {
  return command
      .add_option("-k,--key", text,
                  "key of locked entries: a signed 32-bit number, decimal or 0x-prefixed hex")
      ->check(CLI::Validator(
          [](std::string& value) {
            return ParseKey(value) ? std::string() : "KEY '" + value + "' is not a 32-bit number";
          },
          "KEY"));
}

int32_t KeyOf(const std::string& text) { return text.empty() ? 0 : *ParseKey(text); }

uint8_t MethodOfName(const std::string& name) {
  if (name == "lh5") return kMethodLh5;
  if (name == "lzh") return kMethodLzh;
  if (name == "rle") return kMethodRle;
  return kMethodNon;
}

TProgress::TProgress(const TGlobalOptions& global, std::string label, int64_t totalBytes)
    : Enabled(!global.Quiet && StandardErrorIsTerminal()),
      Label(std::move(label)),
      TotalBytes(totalBytes),
      Start(std::chrono::steady_clock::now()) {}

TProgress::~TProgress() {
  if (Drawn) std::fputs("\r\033[K", stderr);
}

void TProgress::Show(int32_t percent) {
  if (!Enabled || percent < 0) return;
  const auto now = std::chrono::steady_clock::now();
  // A line per change of the figure, at most ten a second: a refill comes every 8 KB.
  if (Drawn && (percent == LastPercent || now - LastDrawn < std::chrono::milliseconds(100)))
    return;
  const double seconds = std::chrono::duration<double>(now - Start).count();
  const double done = static_cast<double>(TotalBytes) * percent / 100.0;
  const double rate = seconds > 0 ? done / seconds / 1e6 : 0.0;
  std::fprintf(stderr, "\r\033[K%s %3d%% %.1f MB/s", Label.c_str(), percent, rate);
  std::fflush(stderr);
  Drawn = true;
  LastPercent = percent;
  LastDrawn = now;
}

TShowProgressEvent TProgress::Event() {
  if (!Enabled) return {};
  return [this](int32_t& percent) { Show(percent); };
}

}  // namespace vo::voarc
