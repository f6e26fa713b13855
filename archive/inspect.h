// Looking into an archive without expanding it: every entry header in file order, and a test
// of every entry the reader can reach, expanded into a sink that only counts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/component.h"
#include "archive/format.h"
#include "core/stream.h"

namespace vo {

// A sink that keeps nothing: it counts the bytes written to it and sums them.
class TCountingStream final : public TStream {
 public:
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void* buffer, std::size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return Count; }

  int64_t Count = 0;
  uint32_t Sum = 0;
};

// What ended the listing.
enum class TScanEnd {
  EndOfFile,        // no byte left where the next header would begin
  TruncatedHeader,  // fewer than 25 bytes of an entry header
  TruncatedName,    // fewer name bytes than NameLength, or a negative NameLength
  TruncatedData,    // the last entry's data runs past the end of the file
  NegativeSize,     // a negative ExpandedSize or CompressedSize: nothing behind it is found
};

struct TListedEntry {
  int64_t Offset = 0;      // of the entry header in the archive
  int64_t DataOffset = 0;  // of the entry's data
  TEntryHeader Header;
  std::string Name;
  bool Reachable = false;  // whether the reader's scan reaches this entry
};

struct TArchiveListing {
  TArchiveHeader Header;
  std::string MethodID;
  bool HeaderPresent = false;  // false: fewer than 21 bytes, an empty archive
  std::vector<TListedEntry> Entries;
  TScanEnd End = TScanEnd::EndOfFile;
};

// Raises what ExpandFile raises for the archive header; the entries never raise.
TArchiveListing ListArchive(TVoViriDudodado& component, TStream& archive);
TArchiveListing ListArchive(TVoViriDudodado& component, const std::string& archivePath);

struct TEntryTest {
  TListedEntry Entry;
  int64_t ExpandedBytes = 0;
  std::string ErrorClass;  // empty when the expansion raised nothing
  std::string Message;
  // Expanded without an error and to exactly ExpandedSize bytes.
  bool Passed() const { return ErrorClass.empty() && ExpandedBytes == Entry.Header.ExpandedSize; }
};

// Expands one listed entry of archive with the component's key and handlers into a counting
// sink; the errors it raises become the result.
TEntryTest TestEntry(TVoViriDudodado& component, TStream& archive, const std::string& methodID,
                     const TListedEntry& entry);
// Expands every reachable entry with the component's key and handlers into a counting sink.
std::vector<TEntryTest> TestArchive(TVoViriDudodado& component, TStream& archive);
std::vector<TEntryTest> TestArchive(TVoViriDudodado& component, const std::string& archivePath);

}  // namespace vo
