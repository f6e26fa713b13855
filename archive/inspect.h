// Looking into an archive as a tool does: every entry header in file order, the damage that
// would make the reader's scan end early or miss entries, and each entry expanded with the
// checks the component leaves out (a stored entry's sum, the expanded size).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/component.h"
#include "archive/format.h"
#include "archive/scan.h"
#include "core/exception.h"
#include "core/stream.h"

namespace vo {

using EBadEntrySize = ENamed<"EBadEntrySize">;

// A sink that counts the bytes written to it and sums them, and passes them on to Forward
// when there is one (else keeps nothing).
class TCountingStream final : public TStream {
 public:
  TCountingStream() = default;
  explicit TCountingStream(TStream& forward) : Forward(&forward) {}
  std::size_t Read(void*, std::size_t) override { return 0; }
  std::size_t Write(const void* buffer, std::size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return Count; }

  int64_t Count = 0;
  uint32_t Sum = 0;

 private:
  TStream* Forward = nullptr;
};

// An entry as the walk over the archive found it.
using TListedEntry = TScannedEntry;

struct TArchiveListing {
  TArchiveHeader Header;
  std::string MethodID;
  bool HeaderPresent = false;  // false: fewer than 21 bytes, an empty archive
  std::vector<TListedEntry> Entries;
  TScanEnd End = TScanEnd::EndOfFile;
};

// Raises what ExpandFile raises for the archive header; the entries never raise. The archive
// starts at the stream's position; offsets are the stream's own.
TArchiveListing ListArchive(TVoViriDudodado& component, TStream& archive);
TArchiveListing ListArchive(TVoViriDudodado& component, const std::string& archivePath);

// What keeps the reader from seeing the archive whole, or an empty text when nothing does:
// a header, name or data cut short or a negative size before the entries reach the total, or
// entries past the total (the total disagrees with the entries). A file too short for an
// archive header is an empty archive to the reader and no damage here. An entry's name is
// told as showName gives it (as it is stored, when there is none).
std::string ArchiveDamage(const TArchiveListing& listing,
                          const std::function<std::string(const std::string&)>& showName = {});

// Expands one listed entry into dest as the component's ExpandEntry does, with the
// component's key and handlers, and then also checks what the component leaves unchecked:
// a stored entry's sum (EBadChecksum, or EInvalidKey when it is locked) and the number of
// bytes expanded (EBadEntrySize). Returns the number of bytes written to dest.
int64_t ExpandListedEntry(TVoViriDudodado& component, TStream& archive, const std::string& methodID,
                          const TListedEntry& entry, TStream& dest);

struct TEntryTest {
  TListedEntry Entry;
  int64_t ExpandedBytes = 0;
  std::string ErrorClass;  // empty when the expansion raised nothing
  std::string Message;
  bool Passed() const { return ErrorClass.empty(); }
};

// ExpandListedEntry into a sink that keeps nothing; the errors it raises become the result.
TEntryTest TestEntry(TVoViriDudodado& component, TStream& archive, const std::string& methodID,
                     const TListedEntry& entry);
// Expands every reachable entry with the component's key and handlers into a counting sink.
std::vector<TEntryTest> TestArchive(TVoViriDudodado& component, TStream& archive);
std::vector<TEntryTest> TestArchive(TVoViriDudodado& component, const std::string& archivePath);

}  // namespace vo
