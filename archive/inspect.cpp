#include "archive/inspect.h"

#include <array>

#include "core/exception.h"
#include "core/file_stream.h"

namespace vo {

std::size_t TCountingStream::Write(const void* buffer, std::size_t count) {
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  for (std::size_t i = 0; i < count; ++i) Sum += bytes[i];
  Count += static_cast<int64_t>(count);
  return count;
}

int64_t TCountingStream::Seek(int64_t offset, TSeekOrigin origin) {
  // Always at the end: only its position and size can be asked.
  return offset == 0 && origin != TSeekOrigin::Begin ? Count : -1;
}

TArchiveListing ListArchive(TVoViriDudodado& component, TStream& archive) {
  TArchiveListing listing;
  listing.HeaderPresent =
      ReadArchiveHeader(archive, listing.Header, listing.MethodID, component.Key);
  // Too short for a header: an empty archive, whatever its bytes.
  if (!listing.HeaderPresent) return listing;
  component.LookupMethod(listing.MethodID);
  const int64_t archiveEnd = archive.Size();
  int64_t runningSum = 0;
  bool reachable = true;
  for (;;) {
    TListedEntry entry;
    entry.Offset = archive.Position();
    std::array<uint8_t, kEntryHeaderSize> bytes{};
    const std::size_t got = archive.Read(bytes.data(), bytes.size());
    if (got != bytes.size()) {
      listing.End = got == 0 ? TScanEnd::EndOfFile : TScanEnd::TruncatedHeader;
      break;
    }
    entry.Header = DecodeEntryHeader(bytes);
    if (entry.Header.NameLength < 0) {
      listing.End = TScanEnd::TruncatedName;
      break;
    }
    entry.Name.assign(static_cast<std::size_t>(entry.Header.NameLength), '\0');
    if (archive.Read(entry.Name.data(), entry.Name.size()) != entry.Name.size()) {
      listing.End = TScanEnd::TruncatedName;
      break;
    }
    entry.DataOffset = archive.Position();
    // The reader stops at the first entry whose header finds the total reached.
    reachable = reachable && runningSum < listing.Header.TotalExpandedSize;
    const TEntryHeader h = entry.Header;  // entry moves into the listing below
    const bool negative = h.CompressedSize < 0 || h.ExpandedSize < 0;
    entry.Reachable = reachable && !negative;
    const int64_t dataEnd = entry.DataOffset + h.CompressedSize;
    listing.Entries.push_back(std::move(entry));
    if (negative) {
      listing.End = TScanEnd::NegativeSize;
      break;
    }
    if (dataEnd > archiveEnd) {
      listing.End = TScanEnd::TruncatedData;
      break;
    }
    archive.SetPosition(dataEnd);
    runningSum += h.ExpandedSize;
  }
  return listing;
}

TArchiveListing ListArchive(TVoViriDudodado& component, const std::string& archivePath) {
  TFileStream archive(archivePath, kOpenReadExclusive);
  return ListArchive(component, archive);
}

TEntryTest TestEntry(TVoViriDudodado& component, TStream& archive, const std::string& methodID,
                     const TListedEntry& entry) {
  const TEntryHeader& h = entry.Header;
  TEntryTest result;
  result.Entry = entry;
  TCountingStream sink;
  archive.SetPosition(entry.DataOffset);
  try {
    component.ExpandEntry(sink, archive, h.CompressedSize, h.ExpandedSize, h.Checksum, h.Method,
                          methodID, h.LockFlag);
  } catch (const Exception& e) {
    result.ErrorClass = e.ClassName();
    result.Message = e.Message;
  }
  result.ExpandedBytes = sink.Count;
  return result;
}

std::vector<TEntryTest> TestArchive(TVoViriDudodado& component, TStream& archive) {
  const TArchiveListing listing = ListArchive(component, archive);
  std::vector<TEntryTest> results;
  for (const TListedEntry& entry : listing.Entries)
    if (entry.Reachable) results.push_back(TestEntry(component, archive, listing.MethodID, entry));
  return results;
}

std::vector<TEntryTest> TestArchive(TVoViriDudodado& component, const std::string& archivePath) {
  TFileStream archive(archivePath, kOpenReadExclusive);
  return TestArchive(component, archive);
}

}  // namespace vo
