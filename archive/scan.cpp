#include "archive/scan.h"

namespace vo {

bool TEntryScan::Next(TScannedEntry& entry) {
  if (!Walking) return false;
  Archive.SetPosition(NextHeader);
  entry.Offset = NextHeader;
  if (!ReadEntryHeader(Archive, entry.Header, entry.Name)) {
    // How far the read got tells what was cut short.
    const int64_t got = Archive.Position() - entry.Offset;
    Walking = false;
    Ended = got == 0                                       ? TScanEnd::EndOfFile
            : got < static_cast<int64_t>(kEntryHeaderSize) ? TScanEnd::TruncatedHeader
                                                           : TScanEnd::TruncatedName;
    return false;
  }
  entry.DataOffset = Archive.Position();
  const TEntryHeader& h = entry.Header;
  Reaching = Reaching && ScanReaches(SizesBefore, Total);
  // Negative sizes never occur in a sound archive: they end the walk, so that it never seeks
  // backwards nor lowers its sum.
  const bool negative = h.CompressedSize < 0 || h.ExpandedSize < 0;
  entry.Reachable = Reaching && !negative;
  if (negative) {
    Walking = false;
    Ended = TScanEnd::NegativeSize;
    return true;
  }
  NextHeader = entry.DataOffset + h.CompressedSize;
  if (NextHeader > ArchiveEnd) {
    Walking = false;
    Ended = TScanEnd::TruncatedData;
  }
  SizesBefore += h.ExpandedSize;
  return true;
}

}  // namespace vo
