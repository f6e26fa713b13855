#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "core/exception.h"
#include "core/little_endian.h"
#include "core/memory_stream.h"
#include "core/stream.h"
#include "loader/payload.h"
#include "tests/support/loader_files.h"

namespace vo {
namespace {

using test::Filler;
using test::PutStamp;
using test::ReadFile;
using test::TScratchFolder;
using test::WriteFile;

struct TStampPut {
  std::size_t At;
  std::vector<uint8_t> Value;  // empty: the marker only
};

std::vector<uint8_t> Le(int32_t v) {
  std::vector<uint8_t> b(4);
  StoreLittleEndian(b.data(), v);
  return b;
}

TEST(FindPayloadOffset, ReadsTheFirstUsableStampOfEachWindow) {
  struct Row {
    const char* name;
    std::size_t size;
    std::vector<TStampPut> stamps;
    int32_t expected;
  };
  const Row rows[] = {
      {"finished loader, stamp in the fifth window", 120000, {{77296, Le(98304)}}, 98304},
      {"stamp in the first window", 2000, {{10, Le(1500)}}, 1500},
      {"marker across a window end", 30000, {{16380, Le(20000)}}, 20000},
      {"marker just inside the first window", 30000, {{16376, Le(20000)}}, 20000},
      {"no marker at all", 50000, {}, 0},
      {"file of 8 bytes is not searched", 8, {{0, {}}}, 0},
      {"file of 12 bytes holding a stamp", 12, {{0, Le(4)}}, 4},
      {"unpatched stamp hides a valid one later",
       40000,
       {{100, {'X', 0, 0, 0}}, {30000, Le(20000)}},
       0},
      {"value whose lowest byte is X reads as unpatched", 40000, {{100, Le(0x1058)}}, 0},
      {"value equal to the file size", 40000, {{100, Le(40000)}}, 0},
      {"value past the file size", 40000, {{100, Le(70000)}}, 0},
      {"value just below the file size", 40000, {{100, Le(39999)}}, 39999},
      {"negative value comes back", 40000, {{100, Le(-5)}}, -5},
      {"value 0: the next window goes on", 40000, {{100, Le(0)}, {20000, Le(30000)}}, 30000},
      {"value 0: a second marker in the same window is not examined",
       10000,
       {{100, Le(0)}, {200, Le(5000)}},
       0},
      {"marker 2 bytes before the end", 40000, {{39990, {}}}, 0},
      {"marker in the payload after a valid stamp",
       40000,
       {{100, Le(30000)}, {30010, Le(35000)}},
       30000},
  };
  TScratchFolder folder("find");
  for (const Row& row : rows) {
    std::vector<uint8_t> file = Filler(row.size);
    for (const TStampPut& stamp : row.stamps) {
      PutStamp(file, stamp.At);
      std::copy(stamp.Value.begin(), stamp.Value.end(),
                file.begin() + static_cast<std::ptrdiff_t>(stamp.At + 8));
    }
    file.resize(row.size);
    const std::string path = folder.Path("loader");
    WriteFile(path, file);
    EXPECT_EQ(FindPayloadOffset(path), row.expected) << row.name;
  }
}

TEST(FindPayloadOffset, MissingFileRaisesFOpenError) {
  TScratchFolder folder("find-missing");
  const std::string path = folder.Path("absent.exe");
  try {
    FindPayloadOffset(path);
    FAIL() << "no error";
  } catch (const EFOpenError& error) {
    EXPECT_EQ(error.Message, "Cannot open file " + path);
  }
}

TEST(PayloadMarker, IsTheStampsFirstEightBytes) {
  const auto marker = PayloadMarker();
  EXPECT_EQ(std::string(marker.begin(), marker.end()), "VoI_SIZE");
}

// The block lands where the locator looks, whatever the stub's size: every low byte of it,
// the unpatched mark's included.
TEST(AttachPayload, TheLocatorFindsTheBlockBehindAStubOfEverySize) {
  TScratchFolder folder("attach");
  const std::string setup = folder.Path("Setup.exe");
  const std::string temp = folder.Path("VoI1.tmp");
  const std::vector<uint8_t> archive = Filler(300, 5);
  for (std::size_t size = 0x1000; size < 0x1100; ++size) {
    const std::vector<uint8_t> stub = test::StubImage(size, 40);
    TMemoryStream file;
    const int64_t offset = AttachPayload(
        file, stub, [&](TStream& out) { out.WriteBuffer(archive.data(), archive.size()); });
    ASSERT_GE(offset, static_cast<int64_t>(size));
    ASSERT_LE(offset, static_cast<int64_t>(size) + 1);
    ASSERT_EQ(file.Data.size(), offset + 4 + archive.size());
    // The image is kept byte for byte but for the stamp's value.
    std::vector<uint8_t> image(file.Data.begin(), file.Data.begin() + static_cast<long>(size));
    std::copy_n(stub.begin() + 48, 4, image.begin() + 48);
    ASSERT_EQ(image, stub) << size;
    WriteFile(setup, file.Data);
    ASSERT_EQ(FindPayloadOffset(setup), offset) << "stub of " << size << " bytes";
    ASSERT_EQ(CopyPayload(setup, static_cast<int32_t>(offset), temp), archive.size());
    ASSERT_EQ(ReadFile(temp), archive) << size;
  }
}

TEST(AttachPayload, RefusesAnImageWithoutAnUnpatchedStamp) {
  std::vector<uint8_t> patched = test::StubImage(2000, 40);
  patched[48] = 0x10;
  std::vector<uint8_t> noMarker = test::StubImage(2000, 40);
  noMarker[40] = 'v';
  const std::vector<uint8_t> unpatched = test::StubImage(2000, 40);
  const std::vector<uint8_t> stampCut(unpatched.begin(), unpatched.begin() + 50);
  std::vector<uint8_t> cutAtEnd = Filler(100);
  PutStamp(cutAtEnd, 90);
  cutAtEnd.resize(100 - 1);  // three value bytes, no fourth
  for (const auto& image : {patched, noMarker, stampCut, cutAtEnd}) {
    TMemoryStream file;
    bool wrote = false;
    EXPECT_THROW(AttachPayload(file, image, [&](TStream&) { wrote = true; }), EPayloadWrite);
    EXPECT_FALSE(wrote);
    EXPECT_TRUE(file.Data.empty());
  }
}

class CopyPayloadTest : public ::testing::Test {
 protected:
  TScratchFolder Folder{"copy"};
  std::string Loader = Folder.Path("Setup.exe");
  std::string Temp = Folder.Path("VoI1.tmp");
};

TEST_F(CopyPayloadTest, CopiesTheArchiveAndTruncatesTheTemporaryFile) {
  const std::vector<uint8_t> archive = Filler(150000, 3);
  WriteFile(Loader, test::LoaderWithPayload(5000, 700, archive, 333));
  WriteFile(Temp, Filler(200000, 9));
  EXPECT_EQ(CopyPayload(Loader, 5000, Temp), archive.size());
  EXPECT_EQ(ReadFile(Temp), archive);
}

TEST_F(CopyPayloadTest, LengthZeroCopiesTheWholeLoaderFile) {
  std::vector<uint8_t> file = test::LoaderWithPayload(3000, 10, {}, 500);
  WriteFile(Loader, file);
  EXPECT_EQ(CopyPayload(Loader, 3000, Temp), 0u);
  EXPECT_EQ(ReadFile(Temp), file);
}

TEST_F(CopyPayloadTest, ShortPayloadKeepsTheWholeChunksCopiedBefore) {
  const std::vector<uint8_t> archive = Filler(2 * kCopyChunk + 10, 5);
  std::vector<uint8_t> file = test::LoaderWithPayload(1000, 10, archive);
  StoreLittleEndian(&file[1000], static_cast<uint32_t>(3 * kCopyChunk));
  WriteFile(Loader, file);
  EXPECT_THROW(CopyPayload(Loader, 1000, Temp), EReadError);
  const std::vector<uint8_t> kept(archive.begin(), archive.begin() + 2 * kCopyChunk);
  EXPECT_EQ(ReadFile(Temp), kept);
}

TEST_F(CopyPayloadTest, LengthOfTwoToThe31RaisesReadError) {
  std::vector<uint8_t> file = test::LoaderWithPayload(1000, 10, Filler(100));
  StoreLittleEndian(&file[1000], 0x80000000u);
  WriteFile(Loader, file);
  EXPECT_THROW(CopyPayload(Loader, 1000, Temp), EReadError);
}

TEST_F(CopyPayloadTest, OpenAndCreateFailuresNameThePath) {
  const std::string missingFolder = Folder.Path("no/such/VoI2.tmp");
  try {
    CopyPayload(Folder.Path("absent.exe"), 10, Temp);
    ADD_FAILURE() << "no error";
  } catch (const EFOpenError& error) {
    EXPECT_EQ(error.Message, "Cannot open file " + Folder.Path("absent.exe"));
  }
  WriteFile(Loader, test::LoaderWithPayload(1000, 10, Filler(100)));
  try {
    CopyPayload(Loader, 1000, missingFolder);
    ADD_FAILURE() << "no error";
  } catch (const EFCreateError& error) {
    EXPECT_EQ(error.Message, "Cannot create file " + missingFolder);
  }
}

// A file size limit makes the disk full for this process alone; the copy runs in a child.
TEST_F(CopyPayloadTest, FullDiskRaisesWriteError) {
  constexpr int kSawWriteError = 7;
  WriteFile(Loader, test::LoaderWithPayload(1000, 10, Filler(3 * kCopyChunk)));
  const auto copyOntoFullDisk = [this] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kCopyChunk + 100, kCopyChunk + 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    try {
      CopyPayload(Loader, 1000, Temp);
    } catch (const EWriteError&) {
      std::_Exit(kSawWriteError);
    } catch (...) {
    }
    std::_Exit(0);
  };
  EXPECT_EXIT(copyOntoFullDisk(), ::testing::ExitedWithCode(kSawWriteError), "");
  // What reached the disk before it filled stays there.
  EXPECT_GE(ReadFile(Temp).size(), kCopyChunk);
}

}  // namespace
}  // namespace vo
