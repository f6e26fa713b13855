#include <gtest/gtest.h>

#include "archive/component.h"
#include "archive/inspect.h"
#include "core/exception.h"
#include "core/file_stream.h"
#include "core/memory_stream.h"
#include "tests/support/archive_bytes.h"
#include "tests/support/scratch.h"
#include "tests/support/streams.h"

namespace vo {
namespace {

using test::ArchiveBytes;
using test::TBytes;
using test::TRawEntry;

constexpr char kName[] = "Installer\\VoInstall.exe";

TBytes Text(const std::string& s) {
  return {s.begin(), s.end()};
}

// RLE data without the escape byte expands to itself; "A" 0x94 5 expands to five "A".
const TBytes kRleFiveA = {'A', 0x94, 0x05};

struct TOutcome {
  int32_t Matched = -1;
  TBytes Dest;
  std::string Error;  // class name, empty when nothing was raised
  std::string Message;
};

class ArchiveComponent : public test::TTempDirTest {
 protected:
  TOutcome Expand(const TBytes& archive, const std::string& entryName = kName) {
    const std::string path = Put("archive.bin", archive);
    test::TRecordingStream dest;
    TOutcome outcome;
    try {
      outcome.Matched = Component.ExpandFile(path, dest, entryName);
    } catch (const Exception& e) {
      outcome.Error = e.ClassName();
      outcome.Message = e.Message;
    }
    outcome.Dest = dest.Data();
    return outcome;
  }
  TVoViriDudodado Component;
};

TEST_F(ArchiveComponent, FilesOf0To20BytesAreEmptyArchives) {
  const TBytes full = ArchiveBytes({{kName, Text("abc"), 3}});
  for (std::size_t size = 0; size <= 20; ++size) {
    for (uint8_t fill : {0x00, 0xFF}) {
      TBytes bytes(size, fill);
      const TOutcome a = Expand(bytes);
      EXPECT_EQ(a.Error, "") << size;
      EXPECT_EQ(a.Matched, 0);
      const TOutcome b = Expand(TBytes(full.begin(), full.begin() + static_cast<long>(size)));
      EXPECT_EQ(b.Error, "") << size;
      EXPECT_EQ(b.Matched, 0);
    }
  }
}

TEST_F(ArchiveComponent, HeaderFailuresRaiseTheirClassAndMessage) {
  struct Case {
    const char* what;
    TBytes archive;
    const char* error;
    const char* message;
  };
  TBytes badSignature = ArchiveBytes({{kName, Text("abc"), 3}});
  badSignature[0] = 'q';
  TBytes badType = ArchiveBytes({{kName, Text("abc"), 3}});
  badType[12] = 0;
  const Case cases[] = {
      {"21 bytes, bad signature", TBytes(21, 0), "EInvalidHeader",
       "Can't recognize compressed file header"},
      {"valid rest, bad signature", badSignature, "EInvalidHeader",
       "Can't recognize compressed file header"},
      {"archive type 0", badType, "EInvalidHeaderArchiveType", "Archive type must be caMulti"},
      {"lower case lh5", ArchiveBytes({{kName, Text("abc"), 3}}, "lh5"),
       "EUnrecognizedCompressionMethod", "Unrecognized compression method: \"lh5\" in header"},
      {"unknown XYZ", ArchiveBytes({}, "XYZ"), "EUnrecognizedCompressionMethod",
       "Unrecognized compression method: \"XYZ\" in header"},
  };
  for (const Case& c : cases) {
    const TOutcome o = Expand(c.archive);
    EXPECT_EQ(o.Error, c.error) << c.what;
    EXPECT_EQ(o.Message, c.message) << c.what;
    EXPECT_TRUE(o.Dest.empty()) << c.what;
  }
}

TEST_F(ArchiveComponent, EveryKnownIdentifierIsAcceptedAndOnlyThose) {
  for (const char* id : {"NON", "RLE", "LZH", "CUS", "LH5"}) {
    const TOutcome o = Expand(ArchiveBytes({{kName, Text("abc"), 3}}, id));
    EXPECT_EQ(o.Error, "") << id;
    EXPECT_EQ(o.Dest, Text("abc")) << id;
  }
  for (int32_t i = 0; i < 5; ++i) EXPECT_EQ(Component.LookupMethod(CompressIDs[i]), i);
}

TEST_F(ArchiveComponent, OnRecognizeAcceptsFurtherIdentifiersAsCustom) {
  std::vector<std::string> asked;
  Component.OnRecognize = [&](const std::string& id, bool& recognized) {
    asked.push_back(id);
    EXPECT_FALSE(recognized);
    recognized = id == "lh5";
  };
  EXPECT_EQ(Component.LookupMethod("lh5"), kMethodCus);
  EXPECT_EQ(Component.LookupMethod("LH5"), kMethodLh5);  // known ones never reach the handler
  EXPECT_THROW(Component.LookupMethod("ZIP"), EUnrecognizedCompressionMethod);
  EXPECT_EQ(asked, (std::vector<std::string>{"lh5", "ZIP"}));
  // The archive's identifier does not decide how an entry expands: this one is stored.
  const TOutcome o = Expand(ArchiveBytes({{kName, Text("abc"), 3}}, "lh5"));
  EXPECT_EQ(o.Error, "");
  EXPECT_EQ(o.Dest, Text("abc"));
}

TEST_F(ArchiveComponent, ScanFindsEntriesByNameWithinTheTotal) {
  struct Case {
    const char* what;
    TBytes archive;
    std::string entryName;
    int32_t matched;
    TBytes dest;
  };
  TBytes totalZero = ArchiveBytes({{kName, Text("abc"), 3}});
  totalZero[8] = 0;
  const TBytes one = ArchiveBytes({{"a", Text("111"), 3}, {kName, Text("abc"), 3}});
  TBytes cutHeader = one;
  cutHeader.resize(21 + 25 + 1 + 3 + 24);
  TBytes cutName = one;
  cutName.resize(one.size() - 4);  // 23-byte name, data "abc": one name byte missing
  const Case cases[] = {
      {"found", one, kName, 1, Text("abc")},
      {"ASCII case ignored", one, "INSTALLER\\voinstall.EXE", 1, Text("abc")},
      {"longer name differs", one, std::string(kName) + "x", 0, {}},
      {"missing entry", one, "b", 0, {}},
      {"total 0 hides every entry", totalZero, kName, 0, {}},
      {"header cut after 24 bytes", cutHeader, kName, 0, {}},
      {"name cut short", cutName, kName, 0, {}},
      {"entries before a cut are found", cutName, "a", 1, Text("111")},
      {"two of one name both expand",
       ArchiveBytes({{"a", Text("12"), 2}, {"b", Text("x"), 1}, {"A", Text("34"), 2}}), "a", 2,
       Text("1234")},
      {"empty name, data right behind the header",
       ArchiveBytes({{"", Text("e"), 1}, {"n", Text("f"), 1}}), "", 1, Text("e")},
      {"trailing empty entry is never reached",
       ArchiveBytes({{"a", Text("12"), 2}, {"z", Text("late"), 0}}),
       "z",
       0,
       {}},
      {"empty entry before a non-empty one is reached",
       ArchiveBytes({{"z", Text("early"), 0}, {"a", Text("12"), 2}}), "z", 1, Text("early")},
  };
  for (const Case& c : cases) {
    const TOutcome o = Expand(c.archive, c.entryName);
    EXPECT_EQ(o.Error, "") << c.what << ": " << o.Message;
    EXPECT_EQ(o.Matched, c.matched) << c.what;
    EXPECT_EQ(o.Dest, c.dest) << c.what;
  }
}

TEST_F(ArchiveComponent, CaseFoldingIsAsciiOnly) {
  const TBytes archive = ArchiveBytes({{"\xE9t\xE9", Text("x"), 1}});
  EXPECT_EQ(Expand(archive, "\xC9T\xC9").Matched, 0);
  EXPECT_EQ(Expand(archive, "\xE9T\xE9").Matched, 1);
}

TEST_F(ArchiveComponent, ScanGoesOnFromTheEndOfEachEntrysData) {
  // Method 7 consumes nothing and a handler that reads nothing consumes nothing: the next
  // header is still found where the data ends.
  Component.OnExpand = [](TStream&, TStream&, int32_t, int32_t, const std::string&, int32_t&) {};
  const TBytes archive = ArchiveBytes(
      {{"a", Text("junkjunk"), 0, 7}, {"a", Text("custom"), 0, kMethodCus}, {"a", Text("ok"), 2}});
  const TOutcome o = Expand(archive, "a");
  EXPECT_EQ(o.Error, "") << o.Message;
  EXPECT_EQ(o.Matched, 3);
  EXPECT_EQ(o.Dest, Text("ok"));
}

TEST_F(ArchiveComponent, DamagedSizesEndTheScanWithoutLooping) {
  struct Case {
    const char* what;
    TRawEntry damaged;
  };
  const Case cases[] = {
      {"negative compressed size", {"d", Text("xx"), 2, 0, 0, 0, -27}},
      {"negative expanded size", {"d", Text("xx"), -5}},
      {"negative name length", {"d", Text("xx"), 2, 0, 0, 0, std::nullopt, 0xFFFF}},
  };
  for (const Case& c : cases) {
    TBytes archive = test::ArchiveHeaderBytes("LH5", 1000);
    for (const TRawEntry& e :
         {TRawEntry{"a", Text("1"), 1}, c.damaged, TRawEntry{"a", Text("2"), 1}}) {
      const TBytes bytes = test::EntryBytes(e);
      archive.insert(archive.end(), bytes.begin(), bytes.end());
    }
    for (const char* name : {"a", "d"}) {
      const TOutcome o = Expand(archive, name);
      EXPECT_EQ(o.Error, "") << c.what;
      EXPECT_EQ(o.Dest, std::string(name) == "a" ? Text("1") : TBytes{}) << c.what;
    }
  }
}

TEST_F(ArchiveComponent, DataPastTheEndFailsOnlyTheEntryAskedFor) {
  struct Case {
    const char* what;
    TRawEntry entry;
    std::string entryName;
    const char* error;
    const char* message;
  };
  const Case cases[] = {
      {"stored, asked for",
       {"s", Text("abc"), 3, 0, 0, 0, 10},
       "s",
       "EReadError",
       "Stream read error"},
      {"RLE, asked for",
       {"r", Text("abc"), 6, 1, 'a' + 'b' + 'c' + 'd', 0, 10},
       "r",
       "EBadChecksum",
       "Bad checksum during expansion -- data may be invalid"},
      {"stored, not asked for", {"s", Text("abc"), 3, 0, 0, 0, 10}, "x", "", ""},
  };
  for (const Case& c : cases) {
    const TOutcome o = Expand(ArchiveBytes({c.entry}), c.entryName);
    EXPECT_EQ(o.Error, c.error) << c.what;
    EXPECT_EQ(o.Message, c.message) << c.what;
  }
}

TEST_F(ArchiveComponent, KeyLocksAndChecksums) {
  const int32_t key = 0x12345678;
  const uint32_t sum = 5 * 'A';
  const uint32_t keyed = sum + static_cast<uint32_t>(key);
  const TBytes scrambled = test::Scrambled(kRleFiveA, key);
  struct Case {
    const char* what;
    TRawEntry entry;
    int32_t key;
    const char* error;
    TBytes dest;
  };
  const TBytes fiveA(5, 'A');
  const Case cases[] = {
      {"stored, locked, no key: copied untested",
       {kName, Text("raw"), 3, 0, 999, 2},
       0,
       "",
       Text("raw")},
      {"stored, locked, with key: copied as stored",
       {kName, Text("raw"), 3, 0, 999, 2},
       key,
       "",
       Text("raw")},
      {"RLE locked, key 0", {kName, scrambled, 5, 1, keyed, 2}, 0, "EInvalidKey", {}},
      {"LZH locked, key 0", {kName, scrambled, 5, 2, keyed, 2}, 0, "EInvalidKey", {}},
      {"custom locked, key 0", {kName, Text("c"), 1, 3, 0, 1}, 0, "EInvalidKey", {}},
      {"method 7 locked, key 0", {kName, Text("c"), 1, 7, 0, 5}, 0, "EInvalidKey", {}},
      {"scrambled, key + sum", {kName, scrambled, 5, 1, keyed, 2}, key, "", fiveA},
      {"scrambled, plain sum", {kName, scrambled, 5, 1, sum, 2}, key, "", fiveA},
      {"scrambled, other sum", {kName, scrambled, 5, 1, sum + 1, 2}, key, "EInvalidKey", fiveA},
      {"scrambled, wrong key", {kName, scrambled, 5, 1, keyed, 2}, key + 1, "EInvalidKey", {}},
      {"locked unscrambled (flag 1)", {kName, kRleFiveA, 5, 1, keyed, 1}, key, "", fiveA},
      {"negative flag is unlocked", {kName, kRleFiveA, 5, 1, sum, -2}, 0, "", fiveA},
      {"unlocked, key + sum is no pass",
       {kName, kRleFiveA, 5, 1, keyed, 0},
       key,
       "EBadChecksum",
       fiveA},
      {"unlocked, key ignored for data", {kName, kRleFiveA, 5, 1, sum, 0}, key, "", fiveA},
      {"unlocked bad checksum", {kName, kRleFiveA, 5, 1, sum - 1, 0}, 0, "EBadChecksum", fiveA},
      {"method 7, checksum 0", {kName, Text("zz"), 2, 7, 0, 0}, 0, "", {}},
      {"method 7, checksum 1", {kName, Text("zz"), 2, 7, 1, 0}, 0, "EBadChecksum", {}},
      {"method 7 locked, checksum = key", {kName, Text("zz"), 2, 7, 77, 2}, 77, "", {}},
      {"custom without handler, checksum 0", {kName, Text("zz"), 2, 3, 0, 0}, 0, "", {}},
      {"custom without handler, checksum 5",
       {kName, Text("zz"), 2, 3, 5, 0},
       0,
       "EBadChecksum",
       {}},
  };
  for (const Case& c : cases) {
    Component.Key = c.key;
    const TOutcome o = Expand(ArchiveBytes({c.entry}));
    EXPECT_EQ(o.Error, c.error) << c.what;
    if (o.Error == "EInvalidKey") {
      EXPECT_EQ(o.Message, "File locked -- valid key required");
    }
    // A wrong key gives garbage, which must not be mistaken for the data.
    if (std::string(c.what) != "scrambled, wrong key") {
      EXPECT_EQ(o.Dest, c.dest) << c.what;
    } else {
      EXPECT_NE(o.Dest, fiveA);
    }
  }
}

TEST_F(ArchiveComponent, BadLh5TablesUnderALockMeanAWrongKey) {
  // An LH5 block of one symbol whose code-length code has a single length of 1: incomplete.
  const TBytes badTables = {0x00, 0x01, 0x09, 0x00, 0x00, 0x00};
  {
    TMemoryStream source(badTables);
    TMemoryStream sink;
    uint32_t sum = 0;
    try {
      RunCodec({}, sink, source, 6, 8, kMethodLh5, sum, TCodecMode::Expand, false);
      GTEST_SKIP() << "LH5 expansion is not in this build yet";
    } catch (const ELZHBadDecodeTable&) {
    }
  }
  const int32_t key = 0x0BADF00D;
  struct Case {
    const char* what;
    TBytes data;
    int32_t lockFlag;
    const char* error;
    const char* message;
  };
  const Case cases[] = {
      {"unlocked", badTables, 0, "ELZHBadDecodeTable", "Bad decode table in archive!"},
      {"locked, not scrambled", badTables, 1, "EInvalidKey", "File locked -- valid key required"},
      {"locked and scrambled", test::Scrambled(badTables, key), 2, "EInvalidKey",
       "File locked -- valid key required"},
  };
  Component.Key = key;
  for (const Case& c : cases) {
    const TOutcome o = Expand(ArchiveBytes({{kName, c.data, 8, kMethodLh5, 0, c.lockFlag}}));
    EXPECT_EQ(o.Error, c.error) << c.what;
    EXPECT_EQ(o.Message, c.message) << c.what;
  }
}

TEST_F(ArchiveComponent, CustomEntriesGoToOnExpand) {
  struct TCall {
    int32_t sourceSize, destSize;
    std::string id;
    int32_t checksumIn;
  };
  std::vector<TCall> calls;
  Component.OnExpand = [&](TStream& dest, TStream& source, int32_t sourceSize, int32_t destSize,
                           const std::string& id, int32_t& checksum) {
    calls.push_back({sourceSize, destSize, id, checksum});
    TBytes data(static_cast<std::size_t>(sourceSize));
    source.ReadBuffer(data.data(), data.size());
    dest.WriteBuffer(data.data(), data.size());
    dest.WriteBuffer(data.data(), data.size());
    checksum = static_cast<int32_t>(test::ByteSum(data) * 2);
  };
  const TBytes archive = ArchiveBytes({{"c", Text("xy"), 4, kMethodCus, 2 * ('x' + 'y')},
                                       {"c", Text("q"), 2, kMethodCus, 1},
                                       {"c", Text("s"), 1}},
                                      "RLE");
  const TOutcome o = Expand(archive, "c");
  EXPECT_EQ(o.Error, "EBadChecksum");
  EXPECT_EQ(o.Dest, Text("xyxyqq"));
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].sourceSize, 2);
  EXPECT_EQ(calls[0].destSize, 4);
  EXPECT_EQ(calls[0].id, "RLE");
  EXPECT_EQ(calls[0].checksumIn, 0);
}

// A cancel ends the input: the expansion fails with its own class, not as damage would.
TEST_F(ArchiveComponent, ProgressCancelRaisesCancelled) {
  int reports = 0;
  Component.OnShowProgress = [&](int32_t& percent) {
    ++reports;
    percent = -1;
  };
  const TOutcome o = Expand(ArchiveBytes({{kName, kRleFiveA, 5, 1, 5 * 'A'}}));
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(o.Error, "ECancelled");
  EXPECT_TRUE(o.Dest.empty());
  // Stored entries do not pass through the engine and report nothing.
  EXPECT_EQ(Expand(ArchiveBytes({{kName, Text("abc"), 3}})).Dest, Text("abc"));
  EXPECT_EQ(reports, 1);
}

// Zeros sum to zero, so a raised size would pass the checksum if the expander went on past the
// end of its data; it fails there instead, locked or not.
TEST_F(ArchiveComponent, EntryOfZerosWithARaisedSizeFails) {
  const TBytes zeros(5000, 0);
  const int32_t key = 0x1234567;
  for (uint8_t method : {kMethodLzh, kMethodLh5}) {
    TMemoryStream plain(zeros);
    TMemoryStream packed;
    uint32_t sum = 0;
    RunCodec({}, packed, plain, 5000, 0, method, sum, TCodecMode::Compress, false);
    struct Case {
      int32_t expandedSize;
      int32_t lockFlag;
      const char* error;
    };
    const Case cases[] = {
        {5000, 0, ""},
        {5001, 0, "EReadError"},
        {0x7FFFFFFF, 0, "EReadError"},
        {6000, 1, "EInvalidKey"},  // under a lock, damage reads as a wrong key
    };
    Component.Key = key;
    for (const Case& c : cases) {
      SCOPED_TRACE("method " + std::to_string(method) + ", size " + std::to_string(c.expandedSize));
      const uint32_t stored = c.lockFlag > 0 ? static_cast<uint32_t>(key) : 0;
      const TOutcome o =
          Expand(ArchiveBytes({{kName, packed.Data, c.expandedSize, method, stored, c.lockFlag}}));
      EXPECT_EQ(o.Error, c.error);
      EXPECT_LE(o.Dest.size(), zeros.size());
    }
  }
}

TEST_F(ArchiveComponent, DestThatRefusesBytesRaisesWriteError) {
  const std::string path = Put("a.bin", ArchiveBytes({{kName, Text("abcdef"), 6}}));
  test::TRecordingStream dest;
  dest.Accept = 3;
  try {
    Component.ExpandFile(path, dest, kName);
    FAIL();
  } catch (const EWriteError& e) {
    EXPECT_EQ(e.Message, "Stream write error");
  }
}

TEST_F(ArchiveComponent, ArchiveIsOpenedExclusivelyAndMustExist) {
  try {
    test::TRecordingStream dest;
    Component.ExpandFile(Path("missing"), dest, kName);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message, "Cannot open file " + Path("missing"));
  }
  const std::string path = Put("a.bin", ArchiveBytes({{kName, Text("abc"), 3}}));
  TFileStream holder(path, kOpenReadShared);
  test::TRecordingStream dest;
  EXPECT_THROW(Component.ExpandFile(path, dest, kName), EFOpenError);
}

TEST(ArchiveComponentSettings, SetTargetPathEndsFoldersInOneBackslash) {
  struct Case {
    std::string value, stored;
  };
  const Case cases[] = {
      {"C:\\Temp", "C:\\Temp\\"}, {"C:\\Temp\\", "C:\\Temp\\"}, {"", ""}, {"x/", "x/\\"}};
  TVoViriDudodado component;
  for (const Case& c : cases) {
    component.SetTargetPath(c.value);
    EXPECT_EQ(component.TargetPath, c.stored) << c.value;
  }
}

TEST(ArchiveInspect, ListingMarksReachableEntriesAndWhatEndedIt) {
  const TBytes sound = ArchiveBytes({{"a", Text("12"), 2}, {"b", Text("345"), 3}});
  TBytes trailing = sound;
  const TBytes late = test::EntryBytes({"late", Text("x"), 0});
  trailing.insert(trailing.end(), late.begin(), late.end());
  TBytes negative = sound;
  const TBytes bad = test::EntryBytes({"neg", Text("x"), 1, 0, 0, 0, -30});
  negative.insert(negative.end(), bad.begin(), bad.end());
  struct Case {
    const char* what;
    TBytes archive;
    std::vector<std::string> names;
    std::vector<bool> reachable;
    TScanEnd end;
  };
  const Case cases[] = {
      {"sound", sound, {"a", "b"}, {true, true}, TScanEnd::EndOfFile},
      {"entry past the total",
       trailing,
       {"a", "b", "late"},
       {true, true, false},
       TScanEnd::EndOfFile},
      {"header cut",
       TBytes(sound.begin(), sound.end() - 7),
       {"a"},
       {true},
       TScanEnd::TruncatedHeader},
      {"name cut", TBytes(sound.begin(), sound.end() - 4), {"a"}, {true}, TScanEnd::TruncatedName},
      {"data cut",
       TBytes(sound.begin(), sound.end() - 1),
       {"a", "b"},
       {true, true},
       TScanEnd::TruncatedData},
      {"negative size", negative, {"a", "b", "neg"}, {true, true, false}, TScanEnd::NegativeSize},
  };
  for (const Case& c : cases) {
    TVoViriDudodado component;
    TMemoryStream archive(c.archive);
    const TArchiveListing listing = ListArchive(component, archive);
    EXPECT_TRUE(listing.HeaderPresent);
    EXPECT_EQ(listing.MethodID, "LH5");
    std::vector<std::string> names;
    std::vector<bool> reachable;
    for (const TListedEntry& e : listing.Entries) {
      names.push_back(e.Name);
      reachable.push_back(e.Reachable);
    }
    EXPECT_EQ(names, c.names) << c.what;
    EXPECT_EQ(reachable, c.reachable) << c.what;
    EXPECT_EQ(listing.End, c.end) << c.what;
    // The reader reaches the same entries: it expands a reachable one (here it fails, as its
    // bytes are no LH5 stream) and never finds an unreachable one.
    for (const TListedEntry& e : listing.Entries) {
      TMemoryStream again(c.archive);
      TCountingStream sink;
      bool reached = true;
      try {
        reached = component.ExpandStream(again, sink, e.Name) > 0;
      } catch (const Exception&) {
      }
      EXPECT_EQ(reached, e.Reachable) << c.what << ": " << e.Name;
    }
  }
  TVoViriDudodado component;
  TMemoryStream shortFile(TBytes(20, 'Q'));
  EXPECT_FALSE(ListArchive(component, shortFile).HeaderPresent);
}

TEST(ArchiveInspect, TestingExpandsEveryReachableEntryIntoACounter) {
  const uint32_t abc = 'a' + 'b' + 'c';
  constexpr int32_t kKey = 0x01020304;
  const uint32_t keyed = abc + static_cast<uint32_t>(kKey);
  const TBytes archive =
      ArchiveBytes({{"good", kRleFiveA, 5, kMethodRle, 5 * 'A'},
                    {"bad sum", kRleFiveA, 5, kMethodRle, 1},
                    {"short", kRleFiveA, 9, kMethodRle, 5 * 'A'},
                    {"stored", Text("abc"), 3, kMethodNon, abc},
                    {"stored, bad sum", Text("abd"), 3, kMethodNon, abc},
                    {"stored, sizes differ", Text("abc"), 4, kMethodNon, abc},
                    {"stored, locked", Text("abc"), 3, kMethodNon, abc, 2},
                    {"stored, locked, keyed sum", Text("abc"), 3, kMethodNon, keyed, 2},
                    {"cut", Text("abc"), 3, 0, abc, 0, 99}});
  struct Expected {
    const char* name;
    int64_t bytes;
    const char* error;  // without the key, then with it
    const char* errorWithKey;
  };
  const Expected expected[] = {
      {"good", 5, "", ""},
      {"bad sum", 5, "EBadChecksum", "EBadChecksum"},
      {"short", 5, "EBadEntrySize", "EBadEntrySize"},
      {"stored", 3, "", ""},
      {"stored, bad sum", 3, "EBadChecksum", "EBadChecksum"},
      {"stored, sizes differ", 3, "EBadEntrySize", "EBadEntrySize"},
      {"stored, locked", 3, "", ""},
      {"stored, locked, keyed sum", 3, "EInvalidKey", ""},
      {"cut", 0, "EReadError", "EReadError"},
  };
  for (const int32_t key : {0, kKey}) {
    TVoViriDudodado component;
    component.Key = key;
    TMemoryStream stream(archive);
    const std::vector<TEntryTest> results = TestArchive(component, stream);
    ASSERT_EQ(results.size(), std::size(expected));
    for (std::size_t i = 0; i < results.size(); ++i) {
      const char* error = key == 0 ? expected[i].error : expected[i].errorWithKey;
      EXPECT_EQ(results[i].Entry.Name, expected[i].name);
      EXPECT_EQ(results[i].Passed(), *error == '\0') << expected[i].name << " key " << key;
      EXPECT_EQ(results[i].ExpandedBytes, expected[i].bytes) << expected[i].name;
      EXPECT_EQ(results[i].ErrorClass, error) << expected[i].name << " key " << key;
    }
    EXPECT_EQ(results[1].Message, "Bad checksum during expansion -- data may be invalid");
    EXPECT_EQ(results[2].Message, "Entry expanded to 5 bytes, 9 in the entry header");
    EXPECT_EQ(results[4].Message,
              "Stored entry: its byte sum differs from its checksum -- data may be invalid");
  }
  // The component itself keeps its rule: a stored entry's sum is never tested.
  TVoViriDudodado component;
  TMemoryStream stream(archive);
  TMemoryStream dest;
  EXPECT_EQ(component.ExpandStream(stream, dest, "stored, bad sum"), 1);
  EXPECT_EQ(dest.Data, Text("abd"));
}

TEST(ArchiveInspect, DamageIsWhatKeepsTheReaderFromTheWholeArchive) {
  const TBytes sound = ArchiveBytes({{"a", Text("12"), 2}, {"b", Text("345"), 3}});
  const auto with = [&](const TRawEntry& extra) {
    TBytes bytes = sound;
    const TBytes more = test::EntryBytes(extra);
    bytes.insert(bytes.end(), more.begin(), more.end());
    return bytes;
  };
  TBytes shortOfTotal = sound;
  shortOfTotal[8] = 9;  // TotalExpandedSize 9: the entries add up to 5
  TBytes negativeFirst = ArchiveBytes({{"a", Text("12"), 2, 0, 0, 0, -5}, {"b", Text("345"), 3}});
  TBytes negativeName = ArchiveBytes({{"a", Text("12"), 2, 0, 0, 0, std::nullopt, -3}});
  TBytes namePastEnd = ArchiveBytes({{"a", Text("12"), 2, 0, 0, 0, std::nullopt, 400}});
  struct Case {
    const char* what;
    TBytes archive;
    std::string damage;
  };
  const Case cases[] = {
      {"sound", sound, ""},
      {"a short tail after the total",
       [&] {
         TBytes b = sound;
         b.resize(b.size() + 10);
         return b;
       }(),
       ""},
      {"an entry past the total", with({"late", Text("x"), 1}),
       "1 entry lies past the archive's total of 5 bytes: the total disagrees with the entries"},
      {"an empty entry past the total", with({"late", {}, 0}),
       "1 entry lies past the archive's total of 5 bytes: the total disagrees with the entries"},
      {"header cut", TBytes(sound.begin(), sound.end() - 7),
       "an entry header is cut short by the end of the file"},
      {"name cut", TBytes(sound.begin(), sound.end() - 4),
       "an entry name is cut short by the end of the file"},
      {"data cut", TBytes(sound.begin(), sound.end() - 1),
       "the data of \"b\" is cut short by the end of the file"},
      {"total larger than the entries", shortOfTotal,
       "the entries add up to 5 bytes, short of the archive's total of 9"},
      {"negative compressed size", negativeFirst, "an entry header holds a negative size"},
      {"negative name length", negativeName, "an entry name is cut short by the end of the file"},
      {"name past the end", namePastEnd, "an entry name is cut short by the end of the file"},
  };
  for (const Case& c : cases) {
    TVoViriDudodado component;
    TMemoryStream archive(c.archive);
    EXPECT_EQ(ArchiveDamage(ListArchive(component, archive)), c.damage) << c.what;
  }
}

TEST(ArchiveInspect, CountingStreamCountsAndSums) {
  TCountingStream sink;
  sink.WriteBuffer("\x01\xFF", 2);
  sink.WriteBuffer("abc", 3);
  EXPECT_EQ(sink.Count, 5);
  EXPECT_EQ(sink.Sum, 1u + 255u + 'a' + 'b' + 'c');
  EXPECT_EQ(sink.Position(), 5);
}

}  // namespace
}  // namespace vo
