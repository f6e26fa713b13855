// The reader's walk over the entries of an archive, written once: each entry header in file
// order with its place, whether the reader reaches it, and the damage that ended the walk. The
// reader, listing and testing walk with it; the writer orders entries by its rule of reach.
#pragma once

#include <cstdint>
#include <string>

#include "archive/format.h"
#include "core/stream.h"

namespace vo {

// The reader reads an entry only while the expanded sizes of the entries before it add up to
// less than the archive's total: an entry behind the one that reaches the total is never seen.
constexpr bool ScanReaches(int64_t sizesBefore, int64_t total) {
  return sizesBefore < total;
}

// What ended the walk.
enum class TScanEnd {
  EndOfFile,        // no byte left where the next header would begin
  TruncatedHeader,  // fewer than 25 bytes of an entry header
  TruncatedName,    // fewer name bytes than NameLength, or a negative NameLength
  TruncatedData,    // the last entry's data runs past the end of the file
  NegativeSize,     // a negative ExpandedSize or CompressedSize: nothing behind it is found
};

struct TScannedEntry {
  int64_t Offset = 0;      // of the entry header in the archive
  int64_t DataOffset = 0;  // of the entry's data
  TEntryHeader Header;
  std::string Name;
  bool Reachable = false;  // whether the reader reaches this entry
};

class TEntryScan {
 public:
  // The archive stands at its first entry header; total is the archive header's
  // TotalExpandedSize. Offsets are the stream's own.
  TEntryScan(TStream& archive, int32_t total)
      : Archive(archive),
        ArchiveEnd(archive.Size()),
        Total(total),
        NextHeader(archive.Position()) {}

  // The next entry header and its name, with the stream at the entry's data; false once the
  // walk has ended, and End tells why. Entries past the total come too, unreachable; damage
  // ends the walk, behind the entry it was found in (data cut short, a negative size). Each
  // call first moves to the end of the previous entry's data, whatever was read of it since.
  bool Next(TScannedEntry& entry);
  // Why the walk ended, once Next has returned false.
  TScanEnd End() const { return Ended; }

 private:
  TStream& Archive;
  int64_t ArchiveEnd;
  int32_t Total;
  int64_t SizesBefore = 0;  // 64 bits: many sizes below 2^31 must not wrap below the total
  int64_t NextHeader;
  bool Reaching = true;
  bool Walking = true;
  TScanEnd Ended = TScanEnd::EndOfFile;
};

}  // namespace vo
