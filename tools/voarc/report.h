// The text voarc prints about archives: the listing table, its JSON form and the test report.
#pragma once

#include <string>
#include <vector>

#include "archive/inspect.h"

namespace vo::voarc {

// "2001-11-25 14:41:56" from a DOS date and time; separator 'T' gives ISO 8601.
std::string FormatDosDateTime(uint32_t fileDateTime, char separator = ' ');
std::string MethodIdentifier(uint8_t method);  // "LH5", or "#7" for a method without a name
std::string FormatListingTable(const TArchiveListing& listing);
std::string FormatListingJson(const TArchiveListing& listing);

// One line per entry ("OK", "FAILED" with the error, "UNREACHABLE" for a header the reader
// never reaches), then a line for damage that ends the reader's scan quietly.
std::vector<std::string> FormatTestReport(const TArchiveListing& listing,
                                          const std::vector<TEntryTest>& results);
bool TestReportPassed(const TArchiveListing& listing, const std::vector<TEntryTest>& results);

}  // namespace vo::voarc
