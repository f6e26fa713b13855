#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numeric>

#include "core/exception.h"
#include "core/file_stream.h"
#include "tests/support/scratch.h"
#include "tests/support/streams.h"

namespace vo {
namespace {

namespace fs = std::filesystem;
using test::TRecordingStream;

std::vector<uint8_t> Counting(std::size_t n) {
  std::vector<uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return v;
}

TEST(Exceptions, EveryClassTellsItsNameAndMessage) {
  struct Row {
    const Exception& error;
    const char* name;
  };
  const EInvalidHeader a("m");
  const EInvalidHeaderArchiveType b("m");
  const EUnrecognizedCompressionMethod c("m");
  const EInvalidKey d("m");
  const EBadChecksum e("m");
  const EUnableToCompress f("m");
  const ELZHBadDecodeTable g("m");
  const EFOpenError h("m");
  const EFCreateError i("m");
  const EReadError j("m");
  const EWriteError k("m");
  const Row rows[] = {{a, "EInvalidHeader"},
                      {b, "EInvalidHeaderArchiveType"},
                      {c, "EUnrecognizedCompressionMethod"},
                      {d, "EInvalidKey"},
                      {e, "EBadChecksum"},
                      {f, "EUnableToCompress"},
                      {g, "ELZHBadDecodeTable"},
                      {h, "EFOpenError"},
                      {i, "EFCreateError"},
                      {j, "EReadError"},
                      {k, "EWriteError"}};
  for (const Row& row : rows) {
    EXPECT_STREQ(row.error.ClassName(), row.name);
    EXPECT_STREQ(row.error.what(), "m");
  }
  // Distinct types: catching one class does not catch another.
  EXPECT_THROW(
      {
        try {
          throw EReadError("x");
        } catch (const EWriteError&) {
          FAIL() << "EReadError caught as EWriteError";
        }
      },
      EReadError);
}

TEST(Stream, ReadAndWriteBufferMustCompleteInFull) {
  TRecordingStream short_source(Counting(10));
  uint8_t buffer[16];
  try {
    short_source.ReadBuffer(buffer, 11);
    FAIL() << "no error";
  } catch (const EReadError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  TRecordingStream full_sink;
  full_sink.Accept = 5;
  try {
    full_sink.WriteBuffer(buffer, 6);
    FAIL() << "no error";
  } catch (const EWriteError& e) {
    EXPECT_STREQ(e.what(), "Stream write error");
  }
}

TEST(Stream, CopyMovesChunksOfAtMost61440Bytes) {
  struct Case {
    int64_t start;
    int64_t count;
    std::vector<std::size_t> reads;
    std::size_t copied;
  };
  const Case cases[] = {
      {0, 150000, {61440, 61440, 27120}, 150000},
      {100, 61440, {61440}, 61440},
      {5000, 1, {1}, 1},
      {777, 0, {61440, 61440, 27120}, 150000},  // 0: the whole source from its start
  };
  const auto data = Counting(150000);
  for (const Case& c : cases) {
    TRecordingStream source(data);
    TRecordingStream sink;
    source.SetPosition(c.start);
    EXPECT_EQ(sink.CopyFrom(source, c.count), static_cast<int64_t>(c.copied));
    EXPECT_EQ(source.ReadCalls, c.reads);
    const int64_t from = c.count == 0 ? 0 : c.start;
    EXPECT_TRUE(std::equal(sink.Data().begin(), sink.Data().end(), data.begin() + from));
    EXPECT_EQ(sink.Data().size(), c.copied);
  }
}

TEST(Stream, CopyPastTheSourceEndKeepsTheWholeChunksBefore) {
  TRecordingStream source(Counting(70000));
  TRecordingStream sink;
  EXPECT_THROW(sink.CopyFrom(source, 130000), EReadError);
  EXPECT_EQ(sink.Data().size(), 61440u);
  TRecordingStream full_sink;
  full_sink.Accept = 1000;
  source.SetPosition(0);
  EXPECT_THROW(full_sink.CopyFrom(source, 2000), EWriteError);
}

TEST(MemoryStream, SeekReadWriteAndSize) {
  TMemoryStream s;
  s.WriteBuffer("abcdef", 6);
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(s.Seek(-2, TSeekOrigin::End), 4);
  char two[2];
  s.ReadBuffer(two, 2);
  EXPECT_EQ(std::string(two, 2), "ef");
  EXPECT_EQ(s.Read(two, 2), 0u);
  EXPECT_EQ(s.Seek(-1, TSeekOrigin::Begin), -1);
  s.SetPosition(8);
  s.WriteBuffer("z", 1);
  EXPECT_EQ(s.Size(), 9);
  EXPECT_EQ(s.Data[6], 0);
}

class FileStreamTest : public test::TTempDirTest {};

TEST_F(FileStreamTest, WritesReadsSeeksAndTruncatesOnCreate) {
  PutText("f", "old content that is long");
  {
    TFileStream out(Path("f"), kCreate);
    EXPECT_EQ(out.Size(), 0);
    out.WriteBuffer("hello", 5);
    EXPECT_EQ(out.Position(), 5);
    out.Close();
  }
  TFileStream in(Path("f"), kOpenReadShared);
  EXPECT_EQ(in.Size(), 5);
  EXPECT_EQ(in.Seek(1, TSeekOrigin::Begin), 1);
  char buf[8];
  EXPECT_EQ(in.Read(buf, 8), 4u);
  EXPECT_EQ(std::string(buf, 4), "ello");
}

TEST_F(FileStreamTest, FailuresNameThePath) {
  const std::string missing = Path("missing");
  const std::string nowhere = Path("no/such/folder");
  try {
    TFileStream s(missing, kOpenReadShared);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message, "Cannot open file " + missing);
  }
  try {
    TFileStream s(nowhere, kCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.Message, "Cannot create file " + nowhere);
  }
  // A folder is not a file in either mode.
  EXPECT_THROW(TFileStream(Dir.string(), kOpenReadExclusive), EFOpenError);
  EXPECT_THROW(TFileStream(Dir.string(), kCreate), EFCreateError);
}

TEST_F(FileStreamTest, SharingRulesBetweenOpeners) {
  struct Case {
    TFileMode first;
    TFileMode second;
    bool secondOpens;
  };
  const Case cases[] = {
      {kOpenReadShared, kOpenReadShared, true},
      {kOpenReadShared, kOpenReadExclusive, false},
      {kOpenReadExclusive, kOpenReadShared, false},
      {kOpenReadExclusive, kOpenReadExclusive, false},
      {kOpenReadExclusive, kCreate, false},
      {kCreate, kOpenReadShared, false},
      {kOpenReadShared, kCreate, false},
  };
  for (const Case& c : cases) {
    PutText("shared", "keep me");
    {
      TFileStream first(Path("shared"), c.first);
      bool opened = true;
      try {
        TFileStream second(Path("shared"), c.second);
      } catch (const Exception&) {
        opened = false;
      }
      EXPECT_EQ(opened, c.secondOpens) << c.first << " then " << c.second;
    }
    if (c.first != kCreate) {
      // A refused create leaves the file that another holds as it was.
      EXPECT_EQ(fs::file_size(Path("shared")), 7u);
    }
  }
}

}  // namespace
}  // namespace vo
