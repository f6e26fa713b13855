// What the voarc commands share: global options, argument checks, usage errors, progress.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "archive/writer.h"
#include "codec/engine.h"
#include "core/os.h"

namespace vo::voarc {

// Exit codes a script can rely on.
inline constexpr int kExitOk = 0;
inline constexpr int kExitDataError = 1;
inline constexpr int kExitUsage = 2;

// A usage error found after parsing: printed as "voarc: <reason>", exit code 2.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A failure to report as "voarc: <reason>" with exit code 1, for conditions that no error class
// of the system names (a refused entry name, an existing file, a damaged archive in `test`).
class TToolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Ends a command with an exit code after it has printed its own report.
struct TExit {
  int Code;
};

struct TGlobalOptions {
  bool Quiet = false;
};

// A signed 32-bit key in decimal, or hexadecimal with a 0x prefix (up to 8 digits, taken as
// the key's 32 bits).
std::optional<int32_t> ParseKey(const std::string& text);
// Adds `-k KEY` to a command, checked by ParseKey.
CLI::Option* AddKeyOption(CLI::App& command, std::string& text);
int32_t KeyOf(const std::string& text);  // 0 for an empty text

// The command line names a method by its identifier in lower case: "lh5" for "LH5".
std::string MethodName(uint8_t method);
// The names of these methods, for a check of an option's value.
std::vector<std::string> MethodNames(std::initializer_list<uint8_t> methods);
// The MethodIndex of a method name; TUsageError for a name that is none.
uint8_t MethodOfName(const std::string& name);

// Entry names are bytes in a Windows code page, which the installer hands to the system's ANSI
// functions; the tool's own text (command lines, file names, messages) is UTF-8.
class TCodePage {
 public:
  static constexpr unsigned kDefault = 1252;
  explicit TCodePage(unsigned number = kDefault) : Number(number) {}

  // The entry name as text; nothing when a byte of it is no character of the code page.
  std::optional<std::string> Text(std::string_view entryName) const {
    return CodePageToUtf8(entryName, Number);
  }
  // The entry name as the tool shows it: its text, or when it has none, its bytes as they are
  // (TerminalText shows those that are no UTF-8 as \xNN).
  std::string Shown(std::string_view entryName) const {
    return Text(entryName).value_or(std::string(entryName));
  }
  // Text as entry name bytes; nothing when a character of it has no form in the code page.
  std::optional<std::string> EntryName(std::string_view text) const {
    return Utf8ToCodePage(text, Number);
  }

  unsigned Number;
};

// Adds `--codepage N`: the code page of entry names, checked to be one the system converts.
CLI::Option* AddCodePageOption(CLI::App& command, unsigned& number);

// The length of the well-formed UTF-8 sequence of 2 to 4 bytes at text[at] (no overlong form,
// no surrogate, at most U+10FFFF) and its code point; 0 when there is none.
std::size_t Utf8Sequence(std::string_view text, std::size_t at, uint32_t& code);

// Text as a terminal may show it: control bytes (below 0x20, 0x7F, and the C1 controls
// 0x80 to 0x9F, raw or encoded as UTF-8) and bytes that are not part of well-formed UTF-8
// become \xNN, so that a name can neither move the cursor, retitle the window nor fake a line.
// Every name and message the tool prints to a terminal goes through it.
std::string TerminalText(std::string_view text);

// ARCHIVE "-": standard input for the commands that read, standard output for create.
inline constexpr char kStandardStreamArgument[] = "-";

// Whether path leads to something a file stream opens but cannot seek in: a named pipe or a
// device. An archive is read from it through a copy, and written to it as to standard output.
bool CannotSeek(const std::string& path);

// Says something on standard error that is no failure, "voarc: <text>", shown as TerminalText.
void Note(const std::string& text);

// A progress line on standard error, drawn only on a terminal and when not quiet.
class TProgress {
 public:
  // totalBytes: the plain bytes that 100 percent stands for, to tell the rate.
  TProgress(const TGlobalOptions& global, std::string label, int64_t totalBytes);
  ~TProgress();
  TProgress(const TProgress&) = delete;
  TProgress& operator=(const TProgress&) = delete;

  void Show(int32_t percent);
  // A handler for the component's or engine's progress event.
  TShowProgressEvent Event();

 private:
  bool Enabled;
  bool Drawn = false;
  std::string Label;
  int64_t TotalBytes;
  std::chrono::steady_clock::time_point Start;
  int32_t LastPercent = -1;
  std::chrono::steady_clock::time_point LastDrawn;
};

void RegisterRawCommands(CLI::App& app, TGlobalOptions& global);
void RegisterArchiveCommands(CLI::App& app, TGlobalOptions& global);
void RegisterSfxCommands(CLI::App& app, TGlobalOptions& global);

}  // namespace vo::voarc
