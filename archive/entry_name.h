// Entry names: how they compare, and which ones an archive may hold. One policy serves both
// the writer, which refuses to store a bad name, and extraction, which refuses to turn one
// into a path.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vo {

inline constexpr char kEntrySeparator = '\\';

// Only the letters a to z fold: names are ANSI bytes, and other bytes must match exactly.
constexpr char FoldAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The reader's name comparison: the same length, and every byte equal once folded.
bool SameNameIgnoringAsciiCase(std::string_view a, std::string_view b);

// Whether a name typed to pick entries picks this entry name: the name itself, or a folder
// that holds it (its leading parts), compared part by part with the reader's ASCII case fold,
// where '*' stands for any run of bytes within a part and '?' for one byte. The pattern's parts
// may be separated by '/' as well as by backslashes; empty parts are dropped, so a pattern of
// none picks nothing.
bool PatternPicksName(std::string_view pattern, std::string_view name);

// Why name is no relative path of files under a folder, or nothing when it is one. A sound
// name holds at most 32767 bytes, parts separated by single backslashes, no drive or colon,
// no forward slash, no control byte (below 0x20, or 0x7F), does not start or end with a
// separator, and has no empty part and no part made only of dots and blanks (".", "..", and
// what Windows reads as one of them, such as "..." or ". .").
std::optional<std::string> EntryNameFault(std::string_view name);

}  // namespace vo
