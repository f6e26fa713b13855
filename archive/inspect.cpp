#include "archive/inspect.h"

#include "core/exception.h"
#include "core/file_stream.h"
#include "core/messages.h"

namespace vo {

std::size_t TCountingStream::Write(const void* buffer, std::size_t count) {
  if (Forward != nullptr) count = Forward->Write(buffer, count);
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
  TEntryScan scan(archive, listing.Header.TotalExpandedSize);
  for (TListedEntry entry; scan.Next(entry);) listing.Entries.push_back(entry);
  listing.End = scan.End();
  return listing;
}

TArchiveListing ListArchive(TVoViriDudodado& component, const std::string& archivePath) {
  TFileStream archive(archivePath, kOpenReadExclusive);
  return ListArchive(component, archive);
}

std::string ArchiveDamage(const TArchiveListing& listing,
                          const std::function<std::string(const std::string&)>& showName) {
  if (!listing.HeaderPresent) return {};
  int64_t reachableTotal = 0;
  std::size_t unreachable = 0;
  for (const TListedEntry& entry : listing.Entries) {
    if (entry.Reachable) {
      reachableTotal += entry.Header.ExpandedSize;
    } else {
      ++unreachable;
    }
  }
  const bool shortOfTotal = reachableTotal < listing.Header.TotalExpandedSize;
  const bool lastCut = listing.End == TScanEnd::TruncatedData && !listing.Entries.empty() &&
                       listing.Entries.back().Reachable;
  if (shortOfTotal || lastCut) {
    switch (listing.End) {
      case TScanEnd::TruncatedHeader:
        return "an entry header is cut short by the end of the file";
      case TScanEnd::TruncatedName:
        return "an entry name is cut short by the end of the file";
      case TScanEnd::TruncatedData: {
        const std::string& name = listing.Entries.back().Name;
        return "the data of \"" + (showName ? showName(name) : name) +
               "\" is cut short by the end of the file";
      }
      case TScanEnd::NegativeSize:
        return "an entry header holds a negative size";
      case TScanEnd::EndOfFile:
        break;
    }
    return "the entries add up to " + std::to_string(reachableTotal) +
           " bytes, short of the archive's total of " +
           std::to_string(listing.Header.TotalExpandedSize);
  }
  if (unreachable > 0)
    return std::to_string(unreachable) + " entr" + (unreachable == 1 ? "y lies" : "ies lie") +
           " past the archive's total of " + std::to_string(listing.Header.TotalExpandedSize) +
           " bytes: the total disagrees with the entries";
  return {};
}

int64_t ExpandListedEntry(TVoViriDudodado& component, TStream& archive, const std::string& methodID,
                          const TListedEntry& entry, TStream& dest) {
  const TEntryHeader& h = entry.Header;
  TCountingStream sink(dest);
  archive.SetPosition(entry.DataOffset);
  component.ExpandEntry(sink, archive, h.CompressedSize, h.ExpandedSize, h.Checksum, h.Method,
                        methodID, h.LockFlag);
  // The component never tests a stored entry's sum; a tool that reads one does, with the same
  // key rule as for the other methods.
  if (h.Method == kMethodNon && sink.Sum != h.Checksum) {
    if (h.LockFlag <= 0) throw EBadChecksum(kMsgStoredChecksum);
    if (component.Key == 0 || static_cast<uint32_t>(component.Key) + sink.Sum != h.Checksum)
      throw EInvalidKey(kMsgInvalidKey);
  }
  if (sink.Count != h.ExpandedSize)
    throw EBadEntrySize(kMsgExpandedSizeDiffers + std::to_string(sink.Count) + " bytes, " +
                        std::to_string(h.ExpandedSize) + " in the entry header");
  return sink.Count;
}

TEntryTest TestEntry(TVoViriDudodado& component, TStream& archive, const std::string& methodID,
                     const TListedEntry& entry) {
  TEntryTest result;
  result.Entry = entry;
  TCountingStream sink;
  try {
    ExpandListedEntry(component, archive, methodID, entry, sink);
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
