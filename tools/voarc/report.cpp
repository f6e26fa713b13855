#include "tools/voarc/report.h"

#include <algorithm>
#include <cstdio>
#include <numeric>

#include "archive/component.h"
#include "tools/voarc/cli.h"

namespace vo::voarc {

namespace {

constexpr uint32_t kLastC1Control = 0x9F;

std::string Printf(const char* format, auto... values) {
  char line[512];
  std::snprintf(line, sizeof line, format, values...);
  return line;
}

// A JSON string of UTF-8 text: control characters (C0, DEL and C1) are escaped, and a byte
// that is no UTF-8 becomes the code point of its value.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x80) {
      uint32_t code = 0;
      std::size_t length = Utf8Sequence(text, i, code);
      if (length == 0) {
        length = 1;
        code = b;
      }
      if (length == 1 || code <= kLastC1Control) {
        out += Printf("\\u%04x", code);
      } else {
        out.append(text.substr(i, length));
      }
      i += length;
      continue;
    }
    switch (text[i]) {
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
        out += b < 0x20 || b == 0x7F ? Printf("\\u%04x", b) : std::string(1, text[i]);
    }
    ++i;
  }
  return out + "\"";
}

}  // namespace

std::optional<std::string> FormatDosDateTime(uint32_t fileDateTime, char separator) {
  const std::optional<std::tm> t = DosDateTimeFields(fileDateTime);
  if (!t) return std::nullopt;
  return Printf("%04d-%02d-%02d%c%02d:%02d:%02d", t->tm_year + 1900, t->tm_mon + 1, t->tm_mday,
                separator, t->tm_hour, t->tm_min, t->tm_sec);
}

std::string FormatListingTable(const TArchiveListing& listing, const TCodePage& codePage) {
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
    const std::string time = FormatDosDateTime(h.FileDateTime).value_or("-");
    out += Printf("%-6s %12d %12d %6s  %-19s  ", MethodIdentifier(h.Method).c_str(), h.ExpandedSize,
                  h.CompressedSize, ratio.c_str(), time.c_str());
    out += TerminalText(codePage.Shown(entry.Name)) + flags + "\n";
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

std::string FormatListingJson(const TArchiveListing& listing, const TCodePage& codePage) {
  std::string out = "[";
  const char* separator = "\n";
  for (const TListedEntry& entry : listing.Entries) {
    const TEntryHeader& h = entry.Header;
    const std::string method =
        h.Method < std::size(CompressIDs) ? JsonString(CompressIDs[h.Method]) : std::string("null");
    out += separator;
    const auto time = FormatDosDateTime(h.FileDateTime, 'T');
    out += "  {\"name\": " + JsonString(codePage.Shown(entry.Name)) + ", \"method\": " + method +
           Printf(
               ", \"method_index\": %u, \"size\": %d, \"compressed\": %d, \"checksum\": %u, "
               "\"lock\": %d, ",
               h.Method, h.ExpandedSize, h.CompressedSize, h.Checksum, h.LockFlag) +
           "\"time\": " + (time ? '"' + *time + '"' : std::string("null")) +
           Printf(", \"attributes\": %u, \"reachable\": %s}", h.Attributes,
                  entry.Reachable ? "true" : "false");
    separator = ",\n";
  }
  return out + (listing.Entries.empty() ? "]\n" : "\n]\n");
}

std::string FormatDamage(const TArchiveListing& listing, const TCodePage& codePage) {
  return ArchiveDamage(listing, [&](const std::string& name) { return codePage.Shown(name); });
}

std::vector<std::string> FormatTestReport(const TArchiveListing& listing,
                                          const std::vector<TEntryTest>& results,
                                          const TCodePage& codePage) {
  std::vector<std::string> lines;
  for (const TEntryTest& result : results) {
    const std::string name = codePage.Shown(result.Entry.Name);
    if (result.Passed()) {
      lines.push_back("OK           " + TerminalText(name));
    } else {
      lines.push_back("FAILED       " +
                      TerminalText(name + ": " + result.ErrorClass + ": " + result.Message));
    }
  }
  for (const TListedEntry& entry : listing.Entries)
    if (!entry.Reachable)
      lines.push_back("UNREACHABLE  " + TerminalText(codePage.Shown(entry.Name)));
  if (const std::string damage = FormatDamage(listing, codePage); !damage.empty())
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
                                             const TArchiveListing& listing,
                                             const TCodePage& codePage) {
  std::vector<TEntryTest> results;
  for (const TListedEntry& entry : listing.Entries) {
    if (!entry.Reachable) continue;
    TProgress progress(global, codePage.Shown(entry.Name), entry.Header.ExpandedSize);
    component.OnShowProgress = progress.Event();
    results.push_back(TestEntry(component, archive, listing.MethodID, entry));
  }
  component.OnShowProgress = nullptr;
  return results;
}

}  // namespace vo::voarc
