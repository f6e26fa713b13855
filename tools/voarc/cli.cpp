#include "tools/voarc/cli.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "archive/component.h"
#include "core/os.h"
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

int32_t KeyOf(const std::string& text) {
  return text.empty() ? 0 : *ParseKey(text);
}

std::string MethodName(uint8_t method) {
  std::string name = MethodIdentifier(method);
  std::transform(name.begin(), name.end(), name.begin(), [](char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return name;
}

std::vector<std::string> MethodNames(std::initializer_list<uint8_t> methods) {
  std::vector<std::string> names;
  for (uint8_t method : methods) names.push_back(MethodName(method));
  return names;
}

uint8_t MethodOfName(const std::string& name) {
  for (uint8_t method = 0; method < std::size(CompressIDs); ++method)
    if (MethodName(method) == name) return method;
  throw TUsageError("no method named " + name);
}

CLI::Option* AddCodePageOption(CLI::App& command, unsigned& number) {
  return command
      .add_option("--codepage", number,
                  "Windows code page of entry names: 1252 (the default), 1250, 1251, 932, ...")
      ->check(CLI::Validator(
          [](std::string& value) {
            unsigned n = 0;
            const bool number = !value.empty() &&
                                value.find_first_not_of("0123456789") == std::string::npos &&
                                value.size() <= 5;
            if (number) n = static_cast<unsigned>(std::stoul(value));
            return number && CodePageKnown(n)
                       ? std::string()
                       : "code page '" + value + "' is not one this system converts";
          },
          "N"));
}

std::size_t Utf8Sequence(std::string_view text, std::size_t at, uint32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
  const unsigned char lead = byte(0);
  const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || at + length > text.size()) return 0;
  code = lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  static constexpr uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

namespace {

void AppendEscaped(std::string& out, unsigned char byte) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += "\\x";
  out += kHex[byte >> 4];
  out += kHex[byte & 15];
}

bool IsC1Control(uint32_t code) {
  return code >= 0x80 && code <= 0x9F;
}

}  // namespace

std::string TerminalText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b < 0x7F) {
      out += text[i++];
      continue;
    }
    uint32_t code = 0;
    const std::size_t length = b >= 0x80 ? Utf8Sequence(text, i, code) : 0;
    if (length != 0 && !IsC1Control(code)) {
      out.append(text.substr(i, length));
      i += length;
      continue;
    }
    // A control byte, or a sequence that is one or is no UTF-8: escaped byte by byte.
    const std::size_t end = i + std::max<std::size_t>(length, 1);
    for (; i < end; ++i) AppendEscaped(out, static_cast<unsigned char>(text[i]));
  }
  return out;
}

bool CannotSeek(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(PathOf(path), error);
  return std::filesystem::exists(status) && !std::filesystem::is_regular_file(status) &&
         !std::filesystem::is_directory(status);
}

void Note(const std::string& text) {
  std::fprintf(stderr, "voarc: %s\n", TerminalText(text).c_str());
}

TProgress::TProgress(const TGlobalOptions& global, std::string label, int64_t totalBytes)
    : Enabled(!global.Quiet && IsTerminal(stderr)),
      Label(TerminalText(label)),
      TotalBytes(totalBytes),
      Start(std::chrono::steady_clock::now()) {}

TProgress::~TProgress() {
  if (Drawn) std::fputs("\r\033[K", stderr);
}

void TProgress::Show(int32_t percent) {
  if (!Enabled || percent < 0) return;
  const auto now = std::chrono::steady_clock::now();
  // A line per change of the figure, at most ten a second: a refill comes every 8 KB.
  if (Drawn && (percent == LastPercent || now - LastDrawn < std::chrono::milliseconds(100))) return;
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
