#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <random>

#include "archive/component.h"
#include "archive/entry_name.h"
#include "archive/inspect.h"
#include "archive/writer.h"
#include "codec/compress.h"
#include "core/exception.h"
#include "core/memory_stream.h"
#include "tests/support/scratch.h"
#include "tests/support/streams.h"

namespace vo {
namespace {

namespace fs = std::filesystem;
using test::RandomBytes;
using test::TBytes;

TBytes Text(const std::string& s) {
  return {s.begin(), s.end()};
}

TBytes Prose(std::size_t n) {
  const std::string line = "The quick brown fox jumps over the lazy dog, again and again. ";
  TBytes out;
  for (std::size_t i = 0; out.size() < n; ++i) {
    out.insert(out.end(), line.begin(), line.end());
    out.push_back(static_cast<uint8_t>('0' + i % 10));
  }
  out.resize(n);
  return out;
}

TWriterEntry Memory(const std::string& name, TBytes bytes, uint32_t when = kDosEpoch) {
  TWriterEntry entry;
  entry.Name = name;
  entry.Content = std::move(bytes);
  entry.FileDateTime = when;
  return entry;
}

TWriterEntry File(const std::string& name, const std::string& path) {
  TWriterEntry entry;
  entry.Name = name;
  entry.SourcePath = path;
  return entry;
}

std::string ErrorOf(const std::function<void()>& action, std::string* message = nullptr) {
  try {
    action();
  } catch (const Exception& e) {
    if (message) *message = e.Message;
    return e.ClassName();
  }
  return "";
}

TEST(ArchiveWriter, EntryNamesMustBeRelativeWithBackslashes) {
  struct Case {
    std::string name;
    bool valid;
  };
  const Case cases[] = {
      {"a", true},
      {"Installer\\VoInstall.exe", true},
      {"a.b\\..c\\d..", true},
      {std::string(32767, 'n'), true},
      {std::string(32768, 'n'), false},
      {"", false},
      {"\\a", false},
      {"C:\\a", false},
      {"C:a", false},
      {"a/b", false},
      {"..\\a", false},
      {"a\\..\\b", false},
      {"a\\..", false},
      {"..", false},
      {"a\\\\b", false},
      {"a\\", false},
      {std::string("a\0b", 3), false},
      {".", false},
      {".\\a", false},
      {"a\\.", false},
      {"a\\.\\b", false},
      {"...", false},
      {"a\\. .", false},
      {"a\x1b]0;title\x07", false},
      {"a\rb", false},
      {"a\nb", false},
      {"a\x7f", false},
      {"a\x1f", false},
      {"caf\xc3\xa9 \x80", true},
      {". a", true},
  };
  for (const Case& c : cases) {
    const std::string error = ErrorOf([&] { ValidateEntryName(c.name); });
    EXPECT_EQ(error, c.valid ? "" : "EInvalidEntryName") << c.name.substr(0, 20);
  }
  std::string message;
  ErrorOf([] { ValidateEntryName("a\\..\\b"); }, &message);
  EXPECT_EQ(message, "Invalid entry name \"a\\..\\b\": \"..\" component");
  // Extraction refuses by the same policy, with the same reasons.
  for (const Case& c : cases) EXPECT_EQ(!EntryNameFault(c.name), c.valid) << c.name.substr(0, 20);
  EXPECT_EQ(EntryNameFault("w\\."), "\".\" component");
  EXPECT_EQ(EntryNameFault("w\\"), "ends in a separator");
  EXPECT_EQ(EntryNameFault("a\x1b"), "holds a control byte");
}

TEST(ArchiveWriter, DosDateAndTime) {
  EXPECT_EQ(DosDateTime(2001, 11, 25, 14, 41, 56), 0x2b79753cu);
  EXPECT_EQ(DosDateTime(2001, 11, 25, 14, 41, 57), 0x2b79753cu);  // two-second steps
  EXPECT_EQ(DosDateTime(1980, 1, 1, 0, 0, 0), kDosEpoch);
  EXPECT_EQ(DosDateTime(1970, 6, 1, 12, 0, 0), kDosEpoch);
  EXPECT_EQ(DosDateTime(2107, 12, 31, 23, 59, 58), 0xFF9FBF7Du);
  EXPECT_EQ(DosDateTime(2200, 1, 1, 0, 0, 0), 0xFF9FBF7Du);
}

TEST(ArchiveWriter, ScanOrderPutsANonEmptyEntryLast) {
  struct Case {
    std::vector<int64_t> sizes;
    std::vector<std::size_t> order;
  };
  const Case cases[] = {
      {{}, {}},
      {{5}, {0}},
      {{0, 5}, {0, 1}},
      {{5, 0}, {1, 0}},
      {{3, 0, 4, 0, 0}, {0, 1, 3, 4, 2}},
      {{1, 2, 3}, {0, 1, 2}},
  };
  for (const Case& c : cases) EXPECT_EQ(ScanOrder(c.sizes), c.order);
  for (const std::vector<int64_t>& empty : {std::vector<int64_t>{0}, {0, 0, 0}}) {
    std::string message;
    EXPECT_EQ(ErrorOf([&] { ScanOrder(empty); }, &message), "EArchiveWrite");
    EXPECT_EQ(message,
              "Only empty entries: an archive cannot reach them without at least one entry of 1 "
              "byte or more");
  }
}

class ArchiveWriterFiles : public test::TTempDirTest {
 protected:
  // Every file in the folder, to show that nothing was left behind.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& item : fs::directory_iterator(Dir)) names.push_back(item.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  TBytes ExpandEntry(const std::string& archive, const std::string& name, int32_t key,
                     int32_t* matched = nullptr) {
    TVoViriDudodado component;
    component.Key = key;
    TMemoryStream dest;
    const int32_t n = component.ExpandFile(archive, dest, name);
    if (matched) *matched = n;
    return dest.Data;
  }
};

class ArchiveWriterRoundTrip : public ArchiveWriterFiles,
                               public ::testing::WithParamInterface<uint8_t> {};

TEST_P(ArchiveWriterRoundTrip, EveryEntryReadsBackWithAndWithoutAKey) {
  const uint8_t method = GetParam();
  // A file with a known modification time, local time as DOS times are.
  const TBytes prose = Prose(30000);
  const std::string prosePath = Put("prose.txt", prose);
  std::tm when{};
  when.tm_year = 2001 - 1900;
  when.tm_mon = 10;
  when.tm_mday = 25;
  when.tm_hour = 14;
  when.tm_min = 41;
  when.tm_sec = 56;
  when.tm_isdst = -1;
  fs::last_write_time(prosePath, std::chrono::file_clock::from_sys(
                                     std::chrono::system_clock::from_time_t(std::mktime(&when))));

  const std::vector<std::pair<std::string, TBytes>> contents = {
      {"Installer\\VoInstall.exe", prose},
      {"empty.txt", {}},
      {"noise.bin", RandomBytes(10000, 7)},
      {"zeros\\big.bin", TBytes(70000, 0)},
      {"one", Text("x")},
  };
  for (int32_t key : {0, 0x5A3C1F77, -2}) {
    if (method == kMethodNon && key != 0) {
      // Stored entries would not be hidden by a key: refused before anything is written.
      TWriterOptions stored;
      stored.Method = method;
      stored.Key = key;
      std::string message;
      const TBytes before = Get("out.voa");
      EXPECT_EQ(ErrorOf([&] { WriteArchive(Path("out.voa"), {Memory("a", Text("a"))}, stored); },
                        &message),
                "EArchiveWrite");
      EXPECT_EQ(message, "A key needs a compression method: stored entries would not be hidden");
      EXPECT_EQ(Listing(), (std::vector<std::string>{"out.voa", "prose.txt"}));
      EXPECT_EQ(Get("out.voa"), before);
      continue;
    }
    std::vector<TWriterEntry> entries = {File(contents[0].first, prosePath)};
    for (std::size_t i = 1; i < contents.size(); ++i)
      entries.push_back(Memory(contents[i].first, contents[i].second, 0x12345678));
    TWriterOptions options;
    options.Method = method;
    options.Key = key;
    std::vector<std::string> written;
    options.OnEntryWritten = [&](const TWriterEntry& e, const TEntryHeader&) {
      written.push_back(e.Name);
    };
    const std::string archive = Path("out.voa");
    WriteArchive(archive, entries, options);
    EXPECT_EQ(written.size(), contents.size());
    EXPECT_EQ(Listing(), (std::vector<std::string>{"out.voa", "prose.txt"}));

    for (const auto& [name, bytes] : contents) {
      int32_t matched = 0;
      EXPECT_EQ(ExpandEntry(archive, name, key, &matched), bytes) << name << " key " << key;
      EXPECT_EQ(matched, 1) << name;
    }

    TVoViriDudodado component;
    component.Key = key;
    const TArchiveListing listing = ListArchive(component, archive);
    EXPECT_EQ(listing.MethodID, CompressIDs[method]);
    EXPECT_EQ(listing.Header.ArchiveType, 1);
    EXPECT_EQ(listing.Header.Reserved, 0u);
    EXPECT_EQ(listing.Header.ArchiveLock, key != 0 ? 2 : 0);
    int64_t total = 0;
    for (const auto& c : contents) total += static_cast<int64_t>(c.second.size());
    EXPECT_EQ(listing.Header.TotalExpandedSize, total);
    EXPECT_EQ(listing.End, TScanEnd::EndOfFile);
    ASSERT_EQ(listing.Entries.size(), contents.size());
    for (const TListedEntry& e : listing.Entries) {
      const auto it = std::find_if(contents.begin(), contents.end(),
                                   [&](const auto& c) { return c.first == e.Name; });
      ASSERT_NE(it, contents.end()) << e.Name;
      const uint32_t sum = test::ByteSum(it->second);
      EXPECT_TRUE(e.Reachable) << e.Name;
      EXPECT_EQ(e.Header.Attributes, 0x20);
      EXPECT_EQ(e.Header.ExpandedSize, static_cast<int32_t>(it->second.size()));
      EXPECT_EQ(e.Header.LockFlag, key != 0 ? 2 : 0);
      EXPECT_EQ(e.Header.Checksum, key != 0 ? sum + static_cast<uint32_t>(key) : sum) << e.Name;
      EXPECT_EQ(e.Header.FileDateTime, e.Name == contents[0].first ? 0x2b79753cu : 0x12345678u);
      // Noise and empty entries do not shrink; the rest do unless everything is stored. Under
      // a key nothing is stored, whether it shrinks or not.
      const bool shrinks =
          method != kMethodNon && e.Name != "noise.bin" && e.Name != "empty.txt" && e.Name != "one";
      EXPECT_EQ(e.Header.Method, shrinks || key != 0 ? method : kMethodNon) << e.Name;
      if (shrinks) {
        EXPECT_LT(e.Header.CompressedSize, e.Header.ExpandedSize);
      } else if (key == 0) {
        EXPECT_EQ(e.Header.CompressedSize, e.Header.ExpandedSize);
      }
    }
    if (key != 0) {
      // No run of the entries' bytes can be found in the archive.
      const TBytes bytes = Get("out.voa");
      for (const auto& [name, content] : contents) {
        if (content.size() < 64) continue;
        const auto at = content.begin() + static_cast<long>(content.size() / 2);
        EXPECT_EQ(std::search(bytes.begin(), bytes.end(), at, at + 32), bytes.end()) << name;
      }
    }
    for (const TEntryTest& t : TestArchive(component, archive))
      EXPECT_TRUE(t.Passed()) << t.Entry.Name << ": " << t.Message;

    if (key != 0 && method != kMethodNon) {
      std::string message;
      EXPECT_EQ(ErrorOf([&] { ExpandEntry(archive, contents[0].first, key + 1); }, &message),
                "EInvalidKey");
      EXPECT_EQ(ErrorOf([&] { ExpandEntry(archive, contents[0].first, 0); }), "EInvalidKey");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Methods, ArchiveWriterRoundTrip,
                         ::testing::Values(kMethodNon, kMethodLzh, kMethodLh5),
                         [](const auto& info) { return std::string(CompressIDs[info.param]); });

TEST_F(ArchiveWriterFiles, SeveralThreadsWriteTheSameBytesAsOne) {
  const uint8_t method = kMethodLh5;
  // Random entries do not shrink and are stored, the last one among them: one thread writes
  // each over its given-up compression in the archive itself, and must leave nothing of it.
  std::vector<TWriterEntry> entries;
  for (unsigned i = 0; i < 12; ++i)
    entries.push_back(Memory(std::string(1, static_cast<char>('a' + i)),
                             i % 3 == 2 ? RandomBytes(3000 + i, i) : Prose(5000 * i + 1)));
  entries.push_back(Memory("z", {}));
  // Fewer entries than threads: the idle threads go to the entries' codec runs.
  const std::vector<TWriterEntry> few = {Memory("big", Prose(400000)), Memory("b", Prose(90001))};
  for (const auto& set : {entries, few, std::vector<TWriterEntry>(few.begin(), few.begin() + 1)}) {
    for (int32_t key : {0, 99}) {
      TWriterOptions options;
      options.Method = method;
      options.Key = key;
      options.Threads = 1;
      WriteArchive(Path("one.voa"), set, options);
      // Entries packed ahead wait in memory, in temporary files (limit 0), or some in each.
      for (int64_t spoolLimit : {options.MemorySpoolLimit, int64_t{0}, int64_t{20000}}) {
        for (unsigned threads : {2u, 4u, 16u}) {
          options.Threads = threads;
          options.MemorySpoolLimit = spoolLimit;
          WriteArchive(Path("many.voa"), set, options);
          EXPECT_EQ(Get("many.voa"), Get("one.voa"))
              << set.size() << " entries, " << threads << " threads, spool limit " << spoolLimit;
          EXPECT_EQ(Listing(), (std::vector<std::string>{"many.voa", "one.voa"}));
        }
      }
    }
  }
}

TEST_F(ArchiveWriterFiles, EmptyEntriesAreOrderedToBeReached) {
  TWriterOptions stored;
  stored.Method = kMethodNon;
  const std::vector<TWriterEntry> entries = {Memory("e1", {}), Memory("a", Text("abc")),
                                             Memory("e2", {}), Memory("e3", {})};
  WriteArchive(Path("a.voa"), entries, stored);
  for (const char* name : {"e1", "a", "e2", "e3"}) {
    int32_t matched = 0;
    ExpandEntry(Path("a.voa"), name, 0, &matched);
    EXPECT_EQ(matched, 1) << name;
  }
  // Nothing but empty entries: refused, and no archive appears.
  std::string message;
  EXPECT_EQ(ErrorOf([&] { WriteArchive(Path("b.voa"), {Memory("e", {})}, stored); }, &message),
            "EArchiveWrite");
  EXPECT_NE(message.find("Only empty entries"), std::string::npos);
  // No entries at all is an empty archive.
  WriteArchive(Path("c.voa"), {}, stored);
  EXPECT_EQ(Get("c.voa").size(), 21u);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"a.voa", "c.voa"}));
}

TEST_F(ArchiveWriterFiles, NamesEqualButForCaseAreRefusedNamingBoth) {
  const std::string a1 = Put("a1", Text("one"));
  const std::string a2 = Put("a2", Text("two"));
  struct Case {
    std::vector<TWriterEntry> entries;
    std::string message;  // empty: written
  };
  const Case cases[] = {
      {{File("x", a1), File("X", a2)},
       "Entry names equal but for case: \"x\" from " + a1 + " and \"X\" from " + a2},
      {{File("d\\File.txt", a1), Memory("other", Text("o")), Memory("D\\FILE.TXT", Text("m"))},
       "Entry names equal but for case: \"d\\File.txt\" from " + a1 + " and \"D\\FILE.TXT\""},
      {{File("x", a1), File("x", a1)},
       "Entry names equal but for case: \"x\" from " + a1 + " and \"x\" from " + a1},
      // Only a to z fold: these are two names to the reader.
      {{Memory("caf\xc3\xa9", Text("1")), Memory("CAF\xc3\x89", Text("2"))}, ""},
  };
  for (const Case& c : cases) {
    std::string message;
    const std::string error =
        ErrorOf([&] { WriteArchive(Path("d.voa"), c.entries, TWriterOptions{}); }, &message);
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(error, c.message.empty() ? "" : "EDuplicateEntryName");
    EXPECT_EQ(fs::exists(Path("d.voa")), c.message.empty()) << c.message;
    fs::remove(Path("d.voa"));
  }
}

TEST_F(ArchiveWriterFiles, ACodedEntryIsNeverStored) {
  TWriterEntry noise = Memory("Installer\\VoInstall.exe", RandomBytes(20000, 3));
  noise.Coded = true;
  TWriterEntry empty = Memory("empty", {});
  empty.Coded = true;
  for (uint8_t method : {kMethodLzh, kMethodLh5}) {
    TWriterOptions options;
    options.Method = method;
    WriteArchive(Path("c.voa"), {noise, empty, Memory("plain noise", RandomBytes(500, 4))},
                 options);
    TVoViriDudodado component;
    const TArchiveListing listing = ListArchive(component, Path("c.voa"));
    ASSERT_EQ(listing.Entries.size(), 3u);
    for (const TListedEntry& e : listing.Entries) {
      EXPECT_EQ(e.Header.Method, e.Name == "plain noise" ? kMethodNon : method) << e.Name;
      EXPECT_EQ(e.Header.LockFlag, 0);
    }
    EXPECT_GT(listing.Entries[0].Header.CompressedSize, 20000);  // larger, and still coded
    EXPECT_EQ(ExpandEntry(Path("c.voa"), noise.Name, 0), *noise.Content);
    for (const TEntryTest& t : TestArchive(component, Path("c.voa")))
      EXPECT_TRUE(t.Passed()) << t.Entry.Name << ": " << t.Message;
  }
  TWriterOptions stored;
  stored.Method = kMethodNon;
  std::string message;
  EXPECT_EQ(ErrorOf([&] { WriteArchive(Path("s.voa"), {noise}, stored); }, &message),
            "EArchiveWrite");
  EXPECT_EQ(message, "Entry must be compressed, but the method is NON: Installer\\VoInstall.exe");
  EXPECT_FALSE(fs::exists(Path("s.voa")));
}

TEST_F(ArchiveWriterFiles, FailuresLeaveNoArchiveAndKeepTheOldOne) {
  const TBytes old = Text("old archive");
  const std::string target = Put("t.voa", old);
  const std::string big = Path("big.bin");
  const std::string half = Path("half.bin");
  std::ofstream(big).close();
  fs::resize_file(big, int64_t{1} << 31);  // sparse: takes no room
  std::ofstream(half).close();
  fs::resize_file(half, int64_t{1} << 30);

  TWriterOptions rle;
  rle.Method = kMethodRle;
  TWriterOptions lzh;
  lzh.Method = kMethodLzh;
  TWriterOptions stored;
  stored.Method = kMethodNon;
  TWriterOptions failing = stored;
  failing.OnEntryWritten = [](const TWriterEntry&, const TEntryHeader&) {
    throw EWriteError("disk full");
  };
  TWriterOptions failingSpooled = failing;
  failingSpooled.Threads = 3;
  failingSpooled.MemorySpoolLimit = 0;
  const std::string missing = Path("missing");
  struct Case {
    const char* what;
    std::vector<TWriterEntry> entries;
    const TWriterOptions* options;
    const char* error;
    std::string message;
    bool withoutCompressors = false;  // as in a program that registered none
  };
  const std::vector<Case> cases = {
      {"entry of 2^31 bytes",
       {File("big", big)},
       &stored,
       "EArchiveWrite",
       "Entry of 2 GB or more cannot be archived: big"},
      {"total of 2^31 bytes",
       {File("h1", half), File("h2", half)},
       &stored,
       "EArchiveWrite",
       "Entries add up to 2 GB or more: too large for one archive"},
      {"missing source",
       {Memory("a", Text("a")), File("m", missing)},
       &stored,
       "EFOpenError",
       std::string("cannot open ").append(missing).append(": No such file or directory")},
      {"bad name",
       {Memory("..\\a", Text("a"))},
       &stored,
       "EInvalidEntryName",
       "Invalid entry name \"..\\a\": \"..\" component"},
      {"RLE has no compressor",
       {Memory("a", Text("a"))},
       &rle,
       "EArchiveWrite",
       "No compressor for method RLE"},
      {"LZH compressor not registered",
       {Memory("a", Text("a"))},
       &lzh,
       "EArchiveWrite",
       "No compressor for method LZH",
       true},
      {"failure while writing",
       {Memory("a", Text("a")), Memory("b", Text("b"))},
       &failing,
       "EWriteError",
       "disk full"},
      {"failure while entries wait in temporary files",
       {Memory("a", Text("a")), Memory("b", Text("b")), Memory("c", Text("c")),
        Memory("d", Text("d")), Memory("e", Text("e")), Memory("f", Text("f"))},
       &failingSpooled,
       "EWriteError",
       "disk full"},
  };
  for (const Case& c : cases) {
    std::string message;
    if (c.withoutCompressors) {
      RegisterCompressor(kMethodLzh, nullptr);
      RegisterCompressor(kMethodLh5, nullptr);
    }
    EXPECT_EQ(ErrorOf([&] { WriteArchive(target, c.entries, *c.options); }, &message), c.error)
        << c.what;
    RegisterCompressors();
    EXPECT_EQ(message, c.message) << c.what;
    EXPECT_EQ(Get("t.voa"), old) << c.what;
    EXPECT_EQ(Listing(), (std::vector<std::string>{"big.bin", "half.bin", "t.voa"})) << c.what;
  }
  // A folder that does not exist: no temporary file can be made, nothing appears.
  EXPECT_EQ(ErrorOf([&] { WriteArchive(Path("no/such/x.voa"), {Memory("a", Text("a"))}, stored); }),
            "EFCreateError");
}

}  // namespace
}  // namespace vo
