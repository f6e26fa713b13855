// Writing archives that TVoViriDudodado reads: the header, then every entry compressed with
// LH5 or LZH (or stored when that would not make it smaller), scrambled and checksummed under
// the key when there is one. The archive appears under its name only once it is complete.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "archive/format.h"
#include "codec/engine.h"
#include "core/exception.h"

namespace vo {

using EInvalidEntryName = ENamed<"EInvalidEntryName">;
using EDuplicateEntryName = ENamed<"EDuplicateEntryName">;
using EArchiveWrite = ENamed<"EArchiveWrite">;

inline constexpr uint16_t kAttributeArchive = 0x0020;
// Sizes and their total are signed 32-bit in the archive.
inline constexpr int64_t kMaxArchivedSize = 0x7FFFFFFF;

struct TWriterEntry {
  std::string Name;        // name inside the archive, as ValidateEntryName accepts it
  std::string SourcePath;  // the file to archive, unless Content is given
  std::optional<std::vector<uint8_t>> Content;  // bytes in memory instead of a file
  uint32_t FileDateTime = kDosEpoch;  // for Content entries; files take their modification time
  // Never stored, even when compression does not make it smaller: the reader checks the sum
  // of coded entries only. Every entry is coded under a key.
  bool Coded = false;
  std::string ShownName{};  // the name as messages show it, when Name is in another code page
};

struct TWriterOptions {
  uint8_t Method = kMethodLh5;  // kMethodLh5, kMethodLzh, or kMethodNon to store every entry
  // 0: no key. Under a key every entry is compressed and scrambled, none is stored, so a key
  // needs a method other than kMethodNon.
  int32_t Key = 0;
  // Threads to compress on: entries compressed at once, each by its own codec run; when there
  // are fewer entries than threads, the rest go to the entries' runs.
  unsigned Threads = 1;
  // With several threads, an entry packed ahead of the writer waits in memory up to this size,
  // while those in memory hold no more than half of it per thread together, else in a temporary
  // file beside the archive: a create on N threads stays under N times this size. One thread
  // writes straight into the archive.
  int64_t MemorySpoolLimit = int64_t{8} << 20;
  // Told each entry once it is written, in archive order, on the calling thread.
  std::function<void(const TWriterEntry& entry, const TEntryHeader& header)> OnEntryWritten;
};

// Raises EInvalidEntryName when EntryNameFault finds a fault in name.
void ValidateEntryName(const std::string& name);

// The order in which entries of these expanded sizes must be written so that the reader's
// walk, which stops once the sizes so far reach the total (ScanReaches), reaches every one:
// the last non-empty entry moves behind the empty ones that follow it; everything else keeps
// its place. Raises EArchiveWrite when there are entries but all are empty, as no order can
// reach them.
std::vector<std::size_t> ScanOrder(const std::vector<int64_t>& sizes);

// Writes entries to archivePath through a temporary file beside it, renamed into place once
// complete; on any failure the temporary files are removed and archivePath is left as it was.
// Every check (names, duplicate names, sizes, method) is made before anything is written; a
// method needs its compressor registered with the engine (RegisterCompressors).
void WriteArchive(const std::string& archivePath, std::vector<TWriterEntry> entries,
                  const TWriterOptions& options);
// Where entries packed ahead of the writer wait when they are too large for memory: in
// temporary files beside the path Beside, whose failures name ShownName (else Beside).
struct TSpoolPlace {
  std::string Beside;
  std::string ShownName;
};

// The same into archive from its position on. An archive that cannot seek, such as standard
// output, gets every entry packed ahead of the writer, also on one thread.
void WriteArchiveTo(TStream& archive, std::vector<TWriterEntry> entries,
                    const TWriterOptions& options, const TSpoolPlace& spool);

}  // namespace vo
