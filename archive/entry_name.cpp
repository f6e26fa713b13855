#include "archive/entry_name.h"

#include <algorithm>

#include "archive/format.h"

namespace vo {

namespace {

bool IsControl(char c) {
  const auto b = static_cast<unsigned char>(c);
  return b < 0x20 || b == 0x7F;
}

// Windows drops the dots and blanks that end a part, so such a part names "." or "..".
bool OnlyDotsAndBlanks(std::string_view part) {
  return std::all_of(part.begin(), part.end(), [](char c) { return c == '.' || c == ' '; });
}

bool IsPatternSeparator(char c) {
  return c == kEntrySeparator || c == '/';
}

// One part of a pattern against one part of a name: '*' is any run, '?' any one byte. On a
// mismatch the last '*' takes one byte more, so the work stays within parts' sizes squared.
bool PartMatches(std::string_view pattern, std::string_view part) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;
  std::size_t resume = 0;
  while (n < part.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || FoldAscii(pattern[p]) == FoldAscii(part[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool PatternPicksName(std::string_view pattern, std::string_view name) {
  std::size_t at = 0;  // in name
  bool any = false;
  for (std::size_t start = 0; start <= pattern.size();) {
    std::size_t end = start;
    while (end < pattern.size() && !IsPatternSeparator(pattern[end])) ++end;
    const std::string_view want = pattern.substr(start, end - start);
    start = end + 1;
    if (want.empty()) continue;
    // The next part of the name, which must be there.
    if (at > name.size() || (at == name.size() && any)) return false;
    const std::size_t partEnd = std::min(name.find(kEntrySeparator, at), name.size());
    if (!PartMatches(want, name.substr(at, partEnd - at))) return false;
    at = partEnd + 1;
    any = true;
  }
  return any;
}

bool SameNameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

std::optional<std::string> EntryNameFault(std::string_view name) {
  if (name.empty()) return "empty";
  if (name.size() > static_cast<std::size_t>(kMaxNameLength)) return "longer than 32767 bytes";
  if (std::any_of(name.begin(), name.end(), IsControl)) return "holds a control byte";
  if (name.find('/') != std::string_view::npos) return "separators must be backslashes";
  if (name.find(':') != std::string_view::npos) return "drive or colon";
  if (name.front() == kEntrySeparator) return "not relative";
  if (name.back() == kEntrySeparator) return "ends in a separator";
  for (std::size_t start = 0;;) {
    const std::size_t end = std::min(name.find(kEntrySeparator, start), name.size());
    const std::string_view part = name.substr(start, end - start);
    if (part.empty()) return "empty path component";
    if (part == ".") return "\".\" component";
    if (part == "..") return "\"..\" component";
    if (OnlyDotsAndBlanks(part)) return "component of only dots and blanks";
    if (end == name.size()) return std::nullopt;
    start = end + 1;
  }
}

}  // namespace vo
