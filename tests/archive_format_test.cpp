#include <gtest/gtest.h>

#include "archive/format.h"
#include "core/exception.h"
#include "core/memory_stream.h"
#include "tests/support/archive_bytes.h"

namespace vo {
namespace {

using test::TBytes;

// The sample entry header as stored, followed by its 23 name bytes.
TBytes SampleEntry() {
  TBytes bytes = {0x17, 0x00, 0x3c, 0x75, 0x79, 0x2b, 0x20, 0x00, 0x00, 0x4a, 0x0c, 0x00, 0x05,
                  0x22, 0x06, 0x00, 0x04, 0x24, 0xd8, 0x1b, 0x05, 0x00, 0x00, 0x00, 0x00};
  const std::string name = "Installer\\VoInstall.exe";
  bytes.insert(bytes.end(), name.begin(), name.end());
  return bytes;
}

TEST(ArchiveFormat, SampleEntryReadsFieldByField) {
  TMemoryStream archive(SampleEntry());
  TEntryHeader header;
  std::string name;
  ASSERT_TRUE(ReadEntryHeader(archive, header, name));
  EXPECT_EQ(header.NameLength, 23);
  EXPECT_EQ(header.FileDateTime, 0x2b79753cu);
  EXPECT_EQ(header.Attributes, 0x0020);
  EXPECT_EQ(header.ExpandedSize, 805376);
  EXPECT_EQ(header.CompressedSize, 401925);
  EXPECT_EQ(header.Method, 4);
  EXPECT_EQ(header.Checksum, 0x051bd824u);
  EXPECT_EQ(header.LockFlag, 0);
  EXPECT_EQ(name, "Installer\\VoInstall.exe");
  EXPECT_EQ(archive.Position(), 25 + 23);
}

TEST(ArchiveFormat, EncodingGivesBackTheStoredBytes) {
  const TBytes sample = SampleEntry();
  std::array<uint8_t, kEntryHeaderSize> raw{};
  std::copy_n(sample.begin(), raw.size(), raw.begin());
  EXPECT_EQ(EncodeEntryHeader(DecodeEntryHeader(raw)), raw);

  TEntryHeader header = DecodeEntryHeader(raw);
  TMemoryStream out;
  WriteEntryHeader(out, header, "Installer\\VoInstall.exe");
  EXPECT_EQ(out.Data, sample);

  const TBytes archive = test::ArchiveHeaderBytes("LH5", 842458, 1, -2);
  TArchiveHeader ah;
  ah.MethodID = {'L', 'H', '5'};
  ah.TotalExpandedSize = 805376 + 9917 + 27165;
  ah.ArchiveLock = -2;
  TMemoryStream written;
  WriteArchiveHeader(written, ah);
  EXPECT_EQ(written.Data, archive);
}

TEST(ArchiveFormat, ArchiveHeaderIsReadAndChecked) {
  struct Case {
    const char* what;
    TBytes bytes;
    const char* error;  // class name, or nullptr when the header is accepted
    const char* message;
  };
  TBytes badSignature = test::ArchiveHeaderBytes("LH5", 10);
  badSignature[4] = 0x1B;
  const Case cases[] = {
      {"sound", test::ArchiveHeaderBytes("NON", 1234), nullptr, nullptr},
      {"bad signature", badSignature, "EInvalidHeader", "Can't recognize compressed file header"},
      {"type 0", test::ArchiveHeaderBytes("LH5", 10, 0), "EInvalidHeaderArchiveType",
       "Archive type must be caMulti"},
      {"type 2", test::ArchiveHeaderBytes("LH5", 10, 2), "EInvalidHeaderArchiveType",
       "Archive type must be caMulti"},
  };
  for (const Case& c : cases) {
    TMemoryStream archive(c.bytes);
    TArchiveHeader header;
    std::string id;
    if (c.error == nullptr) {
      EXPECT_TRUE(ReadArchiveHeader(archive, header, id, 0)) << c.what;
      EXPECT_EQ(id, "NON");
      EXPECT_EQ(header.TotalExpandedSize, 1234);
      EXPECT_EQ(archive.Position(), 21);
      continue;
    }
    try {
      ReadArchiveHeader(archive, header, id, 0);
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.ClassName(), c.error) << c.what;
      EXPECT_EQ(e.Message, c.message) << c.what;
    }
  }
}

TEST(ArchiveFormat, FewerThan21BytesGiveTheDefaultHeader) {
  const TBytes valid = test::ArchiveHeaderBytes("LH5", 99);
  for (std::size_t size = 0; size <= 20; ++size) {
    for (int32_t key : {0, 7, -7}) {
      TMemoryStream archive(TBytes(valid.begin(), valid.begin() + static_cast<long>(size)));
      TArchiveHeader header;
      header.TotalExpandedSize = 55;
      std::string id = "ab";
      EXPECT_FALSE(ReadArchiveHeader(archive, header, id, key)) << size;
      EXPECT_EQ(archive.Position(), 0) << "nothing is read";
      EXPECT_EQ(id.size(), 3u);
      EXPECT_EQ(header.Signature, kArchiveSignature);
      EXPECT_EQ(header.TotalExpandedSize, 0);
      EXPECT_EQ(header.ArchiveType, 1);
      EXPECT_EQ(header.Reserved, 0u);
      EXPECT_EQ(header.ArchiveLock, key > 0 ? 2 : 0);
      EXPECT_EQ(header.MethodID[0], 'a');
    }
  }
}

TEST(ArchiveFormat, CutShortOrNegativeEntriesReadFalse) {
  const TBytes sample = SampleEntry();
  struct Case {
    const char* what;
    TBytes bytes;
    bool ok;
  };
  TBytes negativeName = sample;
  negativeName[1] = 0x80;  // NameLength -32768
  TBytes emptyName(sample.begin(), sample.begin() + 25);
  emptyName[0] = 0;
  const Case cases[] = {
      {"nothing", {}, false},
      {"24 header bytes", TBytes(sample.begin(), sample.begin() + 24), false},
      {"header only", TBytes(sample.begin(), sample.begin() + 25), false},
      {"name one short", TBytes(sample.begin(), sample.end() - 1), false},
      {"negative name length", negativeName, false},
      {"empty name", emptyName, true},
      {"whole", sample, true},
  };
  for (const Case& c : cases) {
    TMemoryStream archive(c.bytes);
    TEntryHeader header;
    std::string name = "x";
    EXPECT_EQ(ReadEntryHeader(archive, header, name), c.ok) << c.what;
    if (c.ok) {
      EXPECT_EQ(name.size(), static_cast<std::size_t>(header.NameLength)) << c.what;
    }
  }
}

}  // namespace
}  // namespace vo
