// The text voarc prints about archives: the listing table, its JSON form and the test report.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/inspect.h"
#include "tools/voarc/cli.h"

namespace vo::voarc {

// "2001-11-25 14:41:56" from a DOS date and time; separator 'T' gives ISO 8601. Nothing for
// fields that name no day and time.
std::optional<std::string> FormatDosDateTime(uint32_t fileDateTime, char separator = ' ');
// Names are shown in UTF-8, from the code page, and as TerminalText; JSON escapes what it must.
std::string FormatListingTable(const TArchiveListing& listing, const TCodePage& codePage);
std::string FormatListingJson(const TArchiveListing& listing, const TCodePage& codePage);

// What damage the archive holds, as ArchiveDamage tells it, with names in UTF-8; empty when it
// holds none.
std::string FormatDamage(const TArchiveListing& listing, const TCodePage& codePage);

// One line per entry ("OK", "FAILED" with the error, "UNREACHABLE" for a header the reader
// never reaches), then a line for the damage that ArchiveDamage finds. Names are shown as
// TerminalText.
std::vector<std::string> FormatTestReport(const TArchiveListing& listing,
                                          const std::vector<TEntryTest>& results,
                                          const TCodePage& codePage);
// Every entry passed and the archive holds no damage.
bool TestReportPassed(const TArchiveListing& listing, const std::vector<TEntryTest>& results);

// The listing of the archive at the stream's position, read from the file at path. A file too
// short to hold an archive header is an empty archive to the reader, but when a command is
// asked about an archive it is no archive: TToolError.
TArchiveListing ListArchiveFile(TVoViriDudodado& component, TStream& archive,
                                const std::string& path);
// Tests every reachable entry, with a progress line for each.
std::vector<TEntryTest> TestReachableEntries(const TGlobalOptions& global,
                                             TVoViriDudodado& component, TStream& archive,
                                             const TArchiveListing& listing,
                                             const TCodePage& codePage);

}  // namespace vo::voarc
