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
#include <random>
#include <thread>

#include "archive/component.h"
#include "core/file_stream.h"
#include "core/memory_stream.h"
#include "core/messages.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace vo {

namespace {

namespace fs = std::filesystem;

constexpr char kSeparator = '\\';
constexpr std::size_t kProbeSize = 4096;
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

[[noreturn]] void RaiseBadName(const std::string& name, const char* reason) {
  throw EInvalidEntryName(kMsgInvalidEntryName + ('"' + name + "\": ") + reason);
}

std::string MethodName(uint8_t method) {
  return method < std::size(CompressIDs) ? CompressIDs[method] : std::to_string(method);
}

uint32_t FileDosDateTime(const std::string& path) {
  std::error_code error;
  const auto written = fs::last_write_time(path, error);
  if (error) return kDosEpoch;
  const std::time_t when = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(
          std::chrono::file_clock::to_sys(written)));
  std::tm local{};
#ifdef _WIN32
  if (localtime_s(&local, &when) != 0) return kDosEpoch;
#else
  if (localtime_r(&when, &local) == nullptr) return kDosEpoch;
#endif
  return DosDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min, local.tm_sec);
}

struct TPlanned {
  const TWriterEntry* Entry;
  int64_t Size;
};

std::unique_ptr<TStream> OpenSource(const TWriterEntry& entry) {
  if (entry.Content) return std::make_unique<TByteView>(*entry.Content);
  return std::make_unique<TFileStream>(entry.SourcePath, kOpenReadShared);
}

// Copies size bytes of the source to the sink as they are and returns their sum.
uint32_t CopyStored(TStream& source, TStream& sink, int32_t size, const std::string& name) {
  std::vector<uint8_t> chunk(std::min<std::size_t>(static_cast<std::size_t>(size), kCopyChunk));
  uint32_t sum = 0;
  for (auto left = static_cast<std::size_t>(size); left > 0;) {
    const std::size_t n = std::min(left, chunk.size());
    try {
      source.ReadBuffer(chunk.data(), n);
    } catch (const EReadError&) {
      throw EArchiveWrite(kMsgSourceChanged + name);
    }
    for (std::size_t i = 0; i < n; ++i) sum += chunk[i];
    sink.WriteBuffer(chunk.data(), n);
    left -= n;
  }
  return sum;
}

// Writes the entry's data to sink from its position on, compressed or, when that would not
// make it smaller, stored, and returns the entry's header. A compression given up writes no
// more than the entry's size, so the stored bytes cover all of it.
TEntryHeader PackEntry(const TPlanned& planned, const TWriterOptions& options, TStream& sink) {
  const TWriterEntry& entry = *planned.Entry;
  const auto size = static_cast<int32_t>(planned.Size);
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
  if (options.Method != kMethodNon && size > 0) {
    TCodecSettings settings;
    settings.Key = options.Key;
    try {
      compressed = RunCodec(settings, sink, *source, size, 0, options.Method, sum,
                            TCodecMode::Compress, false) < size;
    } catch (const EUnableToCompress&) {
      // Would not shrink: stored instead.
    }
    if (compressed) {
      if (source->Position() != size) throw EArchiveWrite(kMsgSourceChanged + entry.Name);
      header.Method = options.Method;
    } else {
      source->SetPosition(0);
      sink.SetPosition(start);
    }
  }
  if (!compressed) {
    // Stored data is never scrambled: the reader copies it as it is.
    header.Method = kMethodNon;
    sum = CopyStored(*source, sink, size, entry.Name);
  }
  header.CompressedSize = static_cast<int32_t>(sink.Position() - start);
  header.Checksum = header.LockFlag > 0 ? static_cast<uint32_t>(options.Key) + sum : sum;
  return header;
}

// Removes the file on the way out unless told to keep it.
class TTempFile {
 public:
  explicit TTempFile(std::string path) : Path(std::move(path)) {}
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  ~TTempFile() {
    std::error_code ignored;
    if (!Kept) fs::remove(Path, ignored);
  }
  void Keep() { Kept = true; }
  const std::string Path;

 private:
  bool Kept = false;
};

// Where an entry packed ahead of the writer waits: in memory, or when larger than the
// options allow, in a temporary file beside the archive, so that memory stays bounded.
struct TSpool {
  std::unique_ptr<TTempFile> File;  // declared first, so the stream is closed before removal
  std::unique_ptr<TStream> Stream;
};

// An entry packed ahead of the writer: its header, and its data from the spool's start.
struct TPacked {
  TEntryHeader Header;
  TSpool Spool;
};

// Puts the finished archive under its name in one step, replacing an older one.
bool MoveIntoPlace(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return std::rename(from.c_str(), to.c_str()) == 0;
#endif
}

std::string TempPathBeside(const std::string& target) {
  std::random_device random;
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, ".%08x.tmp", random());
  return target + suffix;
}

// Packs an entry into a spool of its own, rewound for the writer.
TPacked PackSpooled(const TPlanned& planned, const TWriterOptions& options,
                    const std::string& archivePath) {
  TPacked packed;
  if (planned.Size > options.MemorySpoolLimit) {
    packed.Spool.File = std::make_unique<TTempFile>(TempPathBeside(archivePath));
    packed.Spool.Stream = std::make_unique<TFileStream>(packed.Spool.File->Path, kCreate);
  } else {
    // Room for the whole entry at once: packed, it is never larger, and a spool that grew
    // step by step would touch fresh memory at every step.
    auto memory = std::make_unique<TMemoryStream>();
    memory->Data.reserve(static_cast<std::size_t>(planned.Size));
    packed.Spool.Stream = std::move(memory);
  }
  packed.Header = PackEntry(planned, options, *packed.Spool.Stream);
  packed.Spool.Stream->SetPosition(0);
  return packed;
}

// Packs the entries on several threads, a few entries ahead of the writer, and hands each to
// write in archive order.
void PackAhead(const std::vector<TPlanned>& plan, const TWriterOptions& options,
               std::size_t threads, const std::string& archivePath,
               const std::function<void(std::size_t, TPacked&&)>& write) {
  std::vector<std::optional<TPacked>> done(plan.size());
  std::mutex mutex;
  std::condition_variable changed;
  std::size_t next = 0;     // next entry to pack
  std::size_t written = 0;  // entries written so far
  bool failed = false;
  std::exception_ptr error;
  const std::size_t lookAhead = threads * kLookAheadPerThread;

  auto worker = [&] {
    for (;;) {
      std::size_t index;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return failed || next < written + lookAhead; });
        if (failed || next == plan.size()) return;
        index = next++;
      }
      try {
        TPacked packed = PackSpooled(plan[index], options, archivePath);
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
    write(i, std::move(packed));
    {
      std::lock_guard lock(mutex);
      ++written;
    }
    changed.notify_all();
  }
}

}  // namespace

void ValidateEntryName(const std::string& name) {
  if (name.empty()) RaiseBadName(name, "empty");
  if (name.size() > static_cast<std::size_t>(kMaxNameLength))
    RaiseBadName(name, "longer than 32767 bytes");
  if (name.find('\0') != std::string::npos) RaiseBadName(name, "holds a NUL byte");
  if (name.find('/') != std::string::npos) RaiseBadName(name, "separators must be backslashes");
  if (name.find(':') != std::string::npos) RaiseBadName(name, "drive or colon");
  if (name.front() == kSeparator) RaiseBadName(name, "not relative");
  for (std::size_t start = 0;;) {
    const std::size_t end = std::min(name.find(kSeparator, start), name.size());
    const std::string_view part(name.data() + start, end - start);
    if (part.empty()) RaiseBadName(name, "empty path component");
    if (part == "..") RaiseBadName(name, "\"..\" component");
    if (end == name.size()) break;
    start = end + 1;
  }
}

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1980) return kDosEpoch;
  if (year > 2107) return DosDateTime(2107, 12, 31, 23, 59, 58);
  const auto date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
  const auto time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return date << 16 | time;
}

std::vector<std::size_t> ScanOrder(const std::vector<int64_t>& sizes) {
  std::vector<std::size_t> order;
  const auto last = std::find_if(sizes.rbegin(), sizes.rend(), [](int64_t s) { return s > 0; });
  if (last == sizes.rend()) {
    if (!sizes.empty()) throw EArchiveWrite(kMsgOnlyEmptyEntries);
    return order;
  }
  const auto lastFull = static_cast<std::size_t>(sizes.rend() - last - 1);
  for (std::size_t i = 0; i < sizes.size(); ++i)
    if (i != lastFull) order.push_back(i);
  // The last non-empty entry goes last, so the sum reaches the total only at its header.
  order.push_back(lastFull);
  return order;
}

bool CanCompress(uint8_t method) {
  if (method != kMethodLzh && method != kMethodLh5) return false;
  const std::vector<uint8_t> zeros(kProbeSize, 0);
  TByteView source(zeros);
  TMemoryStream sink;
  uint32_t sum = 0;
  try {
    const int32_t size = RunCodec(TCodecSettings{}, sink, source, static_cast<int32_t>(kProbeSize),
                                  0, method, sum, TCodecMode::Compress, false);
    return size > 0 && size < static_cast<int32_t>(kProbeSize);
  } catch (const Exception&) {
    return false;
  }
}

void WriteArchive(const std::string& archivePath, std::vector<TWriterEntry> entries,
                  const TWriterOptions& options) {
  if (options.Method != kMethodNon && !CanCompress(options.Method))
    throw EArchiveWrite(kMsgNoCompressor + MethodName(options.Method));
  std::vector<int64_t> sizes;
  int64_t total = 0;
  for (const TWriterEntry& entry : entries) {
    ValidateEntryName(entry.Name);
    int64_t size = 0;
    if (entry.Content) {
      size = static_cast<int64_t>(entry.Content->size());
    } else {
      TFileStream source(entry.SourcePath, kOpenReadShared);
      size = source.Size();
    }
    if (size > kMaxArchivedSize) throw EArchiveWrite(kMsgEntryTooLarge + entry.Name);
    total += size;
    sizes.push_back(size);
  }
  if (total > kMaxArchivedSize) throw EArchiveWrite(kMsgArchiveTooLarge);
  std::vector<TPlanned> plan;
  for (std::size_t i : ScanOrder(sizes)) plan.push_back({&entries[i], sizes[i]});

  TTempFile temp(TempPathBeside(archivePath));
  {
    TFileStream archive(temp.Path, kCreate);
    TArchiveHeader header;
    const std::string id = MethodName(options.Method);
    std::copy_n(id.begin(), kMethodIDLength, header.MethodID.begin());
    header.TotalExpandedSize = static_cast<int32_t>(total);
    header.ArchiveLock = options.Key != 0 ? kLockScrambled : kLockNone;
    WriteArchiveHeader(archive, header);
    const auto written = [&](std::size_t i, const TEntryHeader& entryHeader) {
      if (options.OnEntryWritten) options.OnEntryWritten(*plan[i].Entry, entryHeader);
    };
    const std::size_t threads = std::min<std::size_t>(std::max(options.Threads, 1u), plan.size());
    if (threads <= 1) {
      // Each entry goes straight into the archive behind a stand-in header, which is written
      // again once its sizes and sum are known.
      for (std::size_t i = 0; i < plan.size(); ++i) {
        const std::string& name = plan[i].Entry->Name;
        const int64_t at = archive.Position();
        TEntryHeader entryHeader;
        entryHeader.NameLength = static_cast<int16_t>(name.size());
        WriteEntryHeader(archive, entryHeader, name);
        entryHeader = PackEntry(plan[i], options, archive);
        const int64_t end = archive.Position();
        archive.SetPosition(at);
        WriteEntryHeader(archive, entryHeader, name);
        archive.SetPosition(end);
        written(i, entryHeader);
      }
    } else {
      PackAhead(plan, options, threads, archivePath, [&](std::size_t i, TPacked&& packed) {
        WriteEntryHeader(archive, packed.Header, plan[i].Entry->Name);
        archive.CopyFrom(*packed.Spool.Stream, packed.Header.CompressedSize);
        written(i, packed.Header);
      });
    }
    archive.Close();
  }
  if (!MoveIntoPlace(temp.Path, archivePath)) throw EFCreateError(kMsgCannotCreate + archivePath);
  temp.Keep();
}

}  // namespace vo
