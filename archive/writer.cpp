#include "archive/writer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <numeric>
#include <thread>

#include "archive/component.h"
#include "archive/entry_name.h"
#include "archive/scan.h"
#include "core/file_stream.h"
#include "core/memory_stream.h"
#include "core/messages.h"
#include "core/os.h"
#include "core/temp_file.h"

namespace vo {

namespace {

namespace fs = std::filesystem;

// How far compression may run ahead of writing, in entries per thread: bounds the memory held.
constexpr std::size_t kLookAheadPerThread = 2;

// A read-only stream over bytes held elsewhere, so that memory entries are not copied.
class TByteView final : public TStream {
 public:
  explicit TByteView(const std::vector<uint8_t>& bytes) : Bytes(bytes) {}
  std::size_t Read(void* buffer, std::size_t count) override {
    const std::size_t n = Pos < Bytes.size() ? std::min(count, Bytes.size() - Pos) : 0;
    if (n != 0) std::memcpy(buffer, Bytes.data() + Pos, n);
    Pos += n;
    return n;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    const int64_t base = origin == TSeekOrigin::Begin     ? 0
                         : origin == TSeekOrigin::Current ? static_cast<int64_t>(Pos)
                                                          : static_cast<int64_t>(Bytes.size());
    if (base + offset < 0) return -1;
    Pos = static_cast<std::size_t>(base + offset);
    return base + offset;
  }

 private:
  const std::vector<uint8_t>& Bytes;
  std::size_t Pos = 0;
};

// An entry's name as messages show it.
const std::string& Shown(const TWriterEntry& entry) {
  return entry.ShownName.empty() ? entry.Name : entry.ShownName;
}

// An entry, as a message names it: its name, and the file it comes from.
std::string Described(const TWriterEntry& entry) {
  std::string text = '"' + Shown(entry) + '"';
  if (!entry.Content) text += " from " + entry.SourcePath;
  return text;
}

// The reader finds entries by name with ASCII case ignored, so two names equal under that
// rule would both be expanded into one file.
void RefuseDuplicateNames(const std::vector<TWriterEntry>& entries) {
  std::vector<std::string> folded;
  for (const TWriterEntry& entry : entries) {
    folded.push_back(entry.Name);
    for (char& c : folded.back()) c = FoldAscii(c);
  }
  std::vector<std::size_t> order(entries.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return folded[a] < folded[b]; });
  for (std::size_t i = 1; i < order.size(); ++i) {
    if (folded[order[i - 1]] != folded[order[i]]) continue;
    throw EDuplicateEntryName(kMsgDuplicateEntryName + Described(entries[order[i - 1]]) + " and " +
                              Described(entries[order[i]]));
  }
}

uint32_t FileDosDateTime(const std::string& path) {
  std::error_code error;
  const auto written = fs::last_write_time(PathOf(path), error);
  if (error) return kDosEpoch;
  const std::time_t when = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(
          std::chrono::file_clock::to_sys(written)));
  const std::optional<std::tm> local = LocalTime(when);
  if (!local) return kDosEpoch;
  return DosDateTime(local->tm_year + 1900, local->tm_mon + 1, local->tm_mday, local->tm_hour,
                     local->tm_min, local->tm_sec);
}

struct TPlanned {
  const TWriterEntry* Entry;
  int64_t Size;
};

std::unique_ptr<TStream> OpenSource(const TWriterEntry& entry) {
  if (entry.Content) return std::make_unique<TByteView>(*entry.Content);
  return std::make_unique<TFileStream>(entry.SourcePath, kOpenReadShared, entry.SourcePath);
}

// Copies size bytes of the source to the sink as they are and returns their sum.
uint32_t CopyStored(TStream& source, TStream& sink, int32_t size, const TWriterEntry& entry) {
  std::vector<uint8_t> chunk(std::min<std::size_t>(static_cast<std::size_t>(size), kCopyChunk));
  uint32_t sum = 0;
  for (auto left = static_cast<std::size_t>(size); left > 0;) {
    const std::size_t n = std::min(left, chunk.size());
    try {
      source.ReadBuffer(chunk.data(), n);
    } catch (const EReadError&) {
      throw EArchiveWrite(kMsgSourceChanged + Shown(entry));
    }
    for (std::size_t i = 0; i < n; ++i) sum += chunk[i];
    sink.WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return sum;
}

// Writes the entry's data to sink from its position on, compressed or, when that would not
// make it smaller, stored, and returns the entry's header. A compression given up writes no
// more than the entry's size, so the stored bytes cover all of it. Under a key, and for an
// entry that asks for it, the entry goes through the codec whatever its size: stored data is
// neither hidden by the key nor checked by the reader.
TEntryHeader PackEntry(const TPlanned& planned, const TWriterOptions& options, TStream& sink,
                       unsigned codecThreads) {
  const TWriterEntry& entry = *planned.Entry;
  const auto size = static_cast<int32_t>(planned.Size);
  const bool coded = options.Key != 0 || entry.Coded;
  TEntryHeader header;
  header.NameLength = static_cast<int16_t>(entry.Name.size());
  header.FileDateTime = entry.Content ? entry.FileDateTime : FileDosDateTime(entry.SourcePath);
  header.Attributes = kAttributeArchive;
  header.ExpandedSize = size;
  header.LockFlag = options.Key != 0 ? kLockScrambled : kLockNone;

  std::unique_ptr<TStream> source = OpenSource(entry);
  const int64_t start = sink.Position();
  uint32_t sum = 0;
  bool compressed = false;
  if (options.Method != kMethodNon && (size > 0 || coded)) {
    TCodecSettings settings;
    settings.Key = options.Key;
    settings.Threads = codecThreads;
    // A coded entry may come out a little larger than it went in: the limit is the largest
    // size an entry can have.
    if (coded) settings.CompressReserve = static_cast<int32_t>(size - kMaxArchivedSize);
    try {
      const int32_t packedSize = RunCodec(settings, sink, *source, size, 0, options.Method, sum,
                                          TCodecMode::Compress, false);
      compressed = coded || packedSize < size;
    } catch (const EUnableToCompress&) {
      if (coded) throw;
      // Would not shrink: stored instead.
    }
    if (compressed) {
      if (source->Position() != size) throw EArchiveWrite(kMsgSourceChanged + Shown(entry));
      header.Method = options.Method;
    } else {
      source->SetPosition(0);
      sink.SetPosition(start);
    }
  }
  if (!compressed) {
    header.Method = kMethodNon;
    sum = CopyStored(*source, sink, size, entry);
  }
  header.CompressedSize = static_cast<int32_t>(sink.Position() - start);
  // A stored entry always carries its true sum, which is all a reader can check it against.
  const bool keyed = header.LockFlag > 0 && header.Method != kMethodNon;
  header.Checksum = keyed ? static_cast<uint32_t>(options.Key) + sum : sum;
  return header;
}

// Where an entry packed ahead of the writer waits: in memory, or when larger than the
// options allow, in a temporary file beside the archive, so that memory stays bounded.
struct TSpool {
  std::unique_ptr<TTempFile> File;
  std::unique_ptr<TMemoryStream> Memory;
  TStream& Stream() { return File ? static_cast<TStream&>(File->Stream()) : *Memory; }
};

// An entry packed ahead of the writer: its header, and its data from the spool's start.
struct TPacked {
  TEntryHeader Header;
  TSpool Spool;
};

// Packs an entry into a spool of its own, rewound for the writer: in memory when inMemory says
// so, in room (an earlier spool's, or none), else in a temporary file.
TPacked PackSpooled(const TPlanned& planned, const TWriterOptions& options,
                    const TSpoolPlace& spool, unsigned codecThreads, bool inMemory,
                    std::vector<uint8_t> room) {
  TPacked packed;
  if (!inMemory) {
    packed.Spool.File = std::make_unique<TTempFile>(spool.Beside, spool.ShownName);
  } else {
    // Room for the whole entry at once: packed, it is rarely larger, and a spool that grew
    // step by step would touch fresh memory at every step.
    room.clear();
    packed.Spool.Memory = std::make_unique<TMemoryStream>(std::move(room));
    packed.Spool.Memory->Data.reserve(static_cast<std::size_t>(planned.Size));
  }
  packed.Header = PackEntry(planned, options, packed.Spool.Stream(), codecThreads);
  packed.Spool.Stream().SetPosition(0);
  return packed;
}

// Packs the entries on several threads, a few entries ahead of the writer, and hands each to
// write in archive order.
void PackAhead(const std::vector<TPlanned>& plan, const TWriterOptions& options,
               std::size_t threads, unsigned codecThreads, const TSpoolPlace& spool,
               const std::function<void(std::size_t, TPacked&)>& write) {
  std::vector<std::optional<TPacked>> done(plan.size());
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;     // next entry to pack
  std::size_t written = 0;  // entries written so far
  bool failed = false;
  std::exception_ptr error;
  const std::size_t lookAhead = threads * kLookAheadPerThread;
  // The entries that wait in memory hold at most half the limit per thread together, so that
  // with their codec runs a create on N threads stays under N times the limit; the others wait
  // in temporary files.
  const int64_t memoryBudget = static_cast<int64_t>(threads) * options.MemorySpoolLimit / 2;
  int64_t inMemory = 0;  // bytes set aside for the entries that wait in memory
  // The memory of spools written out, kept for the next entries while it fits the budget beside
  // those in use: fresh memory costs a page fault for every page the packing touches.
  std::vector<std::vector<uint8_t>> spare;
  int64_t spareBytes = 0;
  std::vector<int64_t> charged(plan.size());  // what each entry in memory counts for
  // Else the spools, each freed on the writer's thread, could stay with the workers' heaps.
  ReturnLargeBlocksWhenFreed();

  auto worker = [&] {
    for (;;) {
      std::size_t index;
      bool memory;
      std::vector<uint8_t> room;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return failed || next < written + lookAhead; });
        if (failed || next == plan.size()) return;
        index = next++;
        const int64_t size = plan[index].Size;
        // A spare taken counts as in use for all its room, and adds only what the entry needs
        // beyond it.
        const int64_t spareRoom = spare.empty() ? 0 : static_cast<int64_t>(spare.back().capacity());
        memory = size <= options.MemorySpoolLimit &&
                 inMemory + spareBytes + std::max<int64_t>(size - spareRoom, 0) <= memoryBudget;
        if (memory) {
          if (!spare.empty()) {
            room = std::move(spare.back());
            spare.pop_back();
            spareBytes -= spareRoom;
          }
          charged[index] = std::max(size, spareRoom);
          inMemory += charged[index];
        }
      }
      try {
        TPacked packed =
            PackSpooled(plan[index], options, spool, codecThreads, memory, std::move(room));
        std::lock_guard lock(mutex);
        done[index] = std::move(packed);
      } catch (...) {
        std::lock_guard lock(mutex);
        if (!failed) error = std::current_exception();
        failed = true;
      }
      changed.notify_all();
    }
  };
  // Stops the workers however the writing ends, before the pool joins them.
  struct TStopper {
    std::mutex& Mutex;
    std::condition_variable& Changed;
    bool& Failed;
    ~TStopper() {
      {
        std::lock_guard lock(Mutex);
        Failed = true;
      }
      Changed.notify_all();
    }
  };
  std::vector<std::jthread> pool;
  TStopper stopper{mutex, changed, failed};
  for (std::size_t t = 0; t < threads; ++t) pool.emplace_back(worker);
  for (std::size_t i = 0; i < plan.size(); ++i) {
    TPacked packed;
    {
      std::unique_lock lock(mutex);
      changed.wait(lock, [&] { return failed || done[i].has_value(); });
      if (error) std::rethrow_exception(error);
      packed = std::move(*done[i]);
      done[i].reset();
    }
    const bool memory = packed.Spool.Memory != nullptr;
    write(i, packed);
    {
      std::lock_guard lock(mutex);
      ++written;
      if (memory) {
        inMemory -= charged[i];
        std::vector<uint8_t>& used = packed.Spool.Memory->Data;
        const auto bytes = static_cast<int64_t>(used.capacity());
        if (inMemory + spareBytes + bytes <= memoryBudget) {
          spareBytes += bytes;
          spare.push_back(std::move(used));
        }
      }
    }
    changed.notify_all();
  }
}

}  // namespace

void ValidateEntryName(const std::string& name) {
  if (const auto fault = EntryNameFault(name))
    throw EInvalidEntryName(kMsgInvalidEntryName + ('"' + name + "\": ") + *fault);
}

namespace {

void ValidateEntryName(const TWriterEntry& entry) {
  if (const auto fault = EntryNameFault(entry.Name))
    throw EInvalidEntryName(kMsgInvalidEntryName + Described(entry) + ": " + *fault);
}

}  // namespace

std::vector<std::size_t> ScanOrder(const std::vector<int64_t>& sizes) {
  std::vector<std::size_t> order(sizes.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  // The last non-empty entry goes last, so that the sizes reach the total only at its header.
  const auto lastFull =
      std::find_if(order.rbegin(), order.rend(), [&](std::size_t i) { return sizes[i] > 0; });
  if (lastFull != order.rend()) std::rotate(lastFull.base() - 1, lastFull.base(), order.end());
  // Under the reader's rule every entry must be reached; with only empty entries none is.
  const int64_t total = std::accumulate(sizes.begin(), sizes.end(), int64_t{0});
  int64_t before = 0;
  for (std::size_t i : order) {
    if (!ScanReaches(before, total)) throw EArchiveWrite(kMsgOnlyEmptyEntries);
    before += sizes[i];
  }
  return order;
}

void WriteArchiveTo(TStream& archive, std::vector<TWriterEntry> entries,
                    const TWriterOptions& options, const TSpoolPlace& spool) {
  if (options.Method != kMethodNon && !HasCompressor(options.Method))
    throw EArchiveWrite(kMsgNoCompressor + MethodIdentifier(options.Method));
  if (options.Method == kMethodNon && options.Key != 0) throw EArchiveWrite(kMsgKeyNeedsCodec);
  std::vector<int64_t> sizes;
  int64_t total = 0;
  for (const TWriterEntry& entry : entries) {
    ValidateEntryName(entry);
    if (entry.Coded && options.Method == kMethodNon)
      throw EArchiveWrite(kMsgEntryNeedsCodec + Shown(entry));
    int64_t size = 0;
    if (entry.Content) {
      size = static_cast<int64_t>(entry.Content->size());
    } else {
      TFileStream source(entry.SourcePath, kOpenReadShared, entry.SourcePath);
      size = source.Size();
    }
    if (size > kMaxArchivedSize) throw EArchiveWrite(kMsgEntryTooLarge + Shown(entry));
    total += size;
    sizes.push_back(size);
  }
  RefuseDuplicateNames(entries);
  if (total > kMaxArchivedSize) throw EArchiveWrite(kMsgArchiveTooLarge);
  std::vector<TPlanned> plan;
  for (std::size_t i : ScanOrder(sizes)) plan.push_back({&entries[i], sizes[i]});

  TArchiveHeader header;
  // Only NON, LZH and LH5 pass the checks above.
  std::copy_n(CompressIDs[options.Method], kMethodIDLength, header.MethodID.begin());
  header.TotalExpandedSize = static_cast<int32_t>(total);
  header.ArchiveLock = options.Key != 0 ? kLockScrambled : kLockNone;
  WriteArchiveHeader(archive, header);
  const auto written = [&](std::size_t i, const TEntryHeader& entryHeader) {
    if (options.OnEntryWritten) options.OnEntryWritten(*plan[i].Entry, entryHeader);
  };
  const unsigned budget = std::max(options.Threads, 1u);
  const std::size_t threads = std::clamp<std::size_t>(plan.size(), 1, budget);
  // An archive that cannot seek back, such as standard output, takes each entry whole, packed
  // beforehand, behind its header.
  const bool seekable = archive.Position() >= 0;
  if (threads <= 1 && seekable) {
    // The one entry at a time has every thread for its codec run.
    // Each entry goes straight into the archive behind a stand-in header, which is written
    // again once its sizes and sum are known.
    for (std::size_t i = 0; i < plan.size(); ++i) {
      const std::string& name = plan[i].Entry->Name;
      const int64_t at = archive.Position();
      TEntryHeader entryHeader;
      entryHeader.NameLength = static_cast<int16_t>(name.size());
      WriteEntryHeader(archive, entryHeader, name);
      entryHeader = PackEntry(plan[i], options, archive, budget);
      const int64_t end = archive.Position();
      archive.SetPosition(at);
      WriteEntryHeader(archive, entryHeader, name);
      archive.SetPosition(end);
      written(i, entryHeader);
    }
  } else {
    // With fewer entries than threads, the threads no entry takes go to the entries' codec runs.
    const auto codecThreads = static_cast<unsigned>(budget / threads);
    PackAhead(plan, options, threads, codecThreads, spool, [&](std::size_t i, TPacked& packed) {
      WriteEntryHeader(archive, packed.Header, plan[i].Entry->Name);
      archive.CopyFrom(packed.Spool.Stream(), packed.Header.CompressedSize);
      written(i, packed.Header);
    });
  }
}

void WriteArchive(const std::string& archivePath, std::vector<TWriterEntry> entries,
                  const TWriterOptions& options) {
  TTempFile temp(archivePath);
  WriteArchiveTo(temp.Stream(), std::move(entries), options, {archivePath, archivePath});
  temp.Commit(TCommitMode::Replace);
}

}  // namespace vo
