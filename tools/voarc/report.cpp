#include "tools/voarc/report.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "archive/component.h"
#include "tools/voarc/cli.h"

namespace vo::voarc {

namespace {

std::string Printf(const char* format, auto... values) {
  char line[512];
  std::snprintf(line, sizeof line, format, values...);
  return line;
}

// A JSON string of ANSI bytes: each byte is its own code point, and every control character
// is escaped, as JSON writes them.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += b < 0x20 || b >= 0x7F ? Printf("\\u%04x", b) : std::string(1, c);
    }
  }
  return out + "\"";
}

}  // namespace

std::string FormatDosDateTime(uint32_t fileDateTime, char separator) {
  const unsigned time = fileDateTime & 0xFFFF;
  const unsigned date = fileDateTime >> 16;
  return Printf("%04u-%02u-%02u%c%02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15, date & 31,
                separator, time >> 11, (time >> 5) & 63, (time & 31) * 2);
}

std::string FormatListingTable(const TArchiveListing& listing) {
  std::string out = Printf("%-6s %12s %12s %6s  %-19s  %s\n", "Method", "Size", "Compressed",
                           "Ratio", "Modified", "Name");
  int64_t size = 0;
  int64_t compressed = 0;
  for (const TListedEntry& entry : listing.Entries) {
    const TEntryHeader& h = entry.Header;
    const std::string ratio =
        h.ExpandedSize > 0 ? Printf("%5.1f%%", 100.0 * h.CompressedSize / h.ExpandedSize) : "    -";
    std::string flags;
    if (h.LockFlag > 0) flags += "  locked";
    if (!entry.Reachable) flags += "  unreachable";
    out += Printf("%-6s %12d %12d %6s  %s  ", MethodIdentifier(h.Method).c_str(), h.ExpandedSize,
                  h.CompressedSize, ratio.c_str(), FormatDosDateTime(h.FileDateTime).c_str());
    out += TerminalText(entry.Name) + flags + "\n";
    size += h.ExpandedSize;
    compressed += h.CompressedSize;
  }
  const std::string ratio =
      size > 0
          ? Printf("%5.1f%%", 100.0 * static_cast<double>(compressed) / static_cast<double>(size))
          : "    -";
  out +=
      Printf("%-6s %12lld %12lld %6s  %-19s  %zu entries\n", "total", static_cast<long long>(size),
             static_cast<long long>(compressed), ratio.c_str(), "", listing.Entries.size());
  return out;
}

std::string FormatListingJson(const TArchiveListing& listing) {
  std::string out = "[";
  const char* separator = "\n";
  for (const TListedEntry& entry : listing.Entries) {
    const TEntryHeader& h = entry.Header;
    const std::string method =
        h.Method < std::size(CompressIDs) ? JsonString(CompressIDs[h.Method]) : std::string("null");
    out += separator;
    out += "  {\"name\": " + JsonString(entry.Name) + ", \"method\": " + method +
           Printf(
               ", \"method_index\": %u, \"size\": %d, \"compressed\": %d, \"checksum\": %u, "
               "\"lock\": %d, ",
               h.Method, h.ExpandedSize, h.CompressedSize, h.Checksum, h.LockFlag) +
           "\"time\": \"" + FormatDosDateTime(h.FileDateTime, 'T') + "\"" +
           Printf(", \"attributes\": %u, \"reachable\": %s}", h.Attributes,
                  entry.Reachable ? "true" : "false");
    separator = ",\n";
  }
  return out + (listing.Entries.empty() ? "]\n" : "\n]\n");
}

std::vector<std::string> FormatTestReport(const TArchiveListing& listing,
                                          const std::vector<TEntryTest>& results) {
  std::vector<std::string> lines;
  for (const TEntryTest& result : results) {
    const std::string& name = result.Entry.Name;
    if (result.Passed()) {
      lines.push_back("OK           " + TerminalText(name));
    } else {
      lines.push_back("FAILED       " +
                      TerminalText(name + ": " + result.ErrorClass + ": " + result.Message));
    }
  }
  for (const TListedEntry& entry : listing.Entries)
    if (!entry.Reachable) lines.push_back("UNREACHABLE  " + TerminalText(entry.Name));
  if (const std::string damage = ArchiveDamage(listing); !damage.empty())
    lines.push_back("DAMAGED      " + TerminalText(damage));
  return lines;
}

bool TestReportPassed(const TArchiveListing& listing, const std::vector<TEntryTest>& results) {
  return ArchiveDamage(listing).empty() &&
         std::all_of(results.begin(), results.end(),
                     [](const TEntryTest& r) { return r.Passed(); });
}

TArchiveListing ListArchiveFile(TVoViriDudodado& component, TStream& archive,
                                const std::string& path) {
  TArchiveListing listing = ListArchive(component, archive);
  if (!listing.HeaderPresent)
    throw TToolError(path + " is not an archive: it is shorter than an archive header (" +
                     std::to_string(kArchiveHeaderSize) + " bytes)");
  return listing;
}

std::vector<TEntryTest> TestReachableEntries(const TGlobalOptions& global,
                                             TVoViriDudodado& component, TStream& archive,
                                             const TArchiveListing& listing) {
  std::vector<TEntryTest> results;
  for (const TListedEntry& entry : listing.Entries) {
    if (!entry.Reachable) continue;
    TProgress progress(global, entry.Name, entry.Header.ExpandedSize);
    component.OnShowProgress = progress.Event();
    results.push_back(TestEntry(component, archive, listing.MethodID, entry));
  }
  component.OnShowProgress = nullptr;
  return results;
}

}  // namespace vo::voarc
