// What voarc reads of a Windows image: its width, processor, subsystem and certificate table,
// from headers built byte by byte here.
#include <gtest/gtest.h>

#include "tests/support/archive_bytes.h"
#include "tools/voarc/pe_image.h"

namespace vo {
namespace {

using test::TBytes;

struct TImageShape {
  bool Pe32Plus;
  uint16_t Machine;
  uint16_t Subsystem;
  uint32_t Directories;  // how many data directories the optional header declares
  uint32_t CertificateOffset;
  uint32_t CertificateSize;
};

// A DOS stub, the signature at 0x80, the file header and the optional header with its data
// directories, followed by some bytes of image.
TBytes ImageBytes(const TImageShape& shape) {
  constexpr std::size_t kPe = 0x80;
  const std::size_t fixed = shape.Pe32Plus ? 112 : 96;
  const std::size_t optionalSize = fixed + 8 * shape.Directories;
  TBytes image(kPe + 24 + optionalSize + 64, 0);
  image[0] = 'M';
  image[1] = 'Z';
  const auto put = [&](std::size_t at, uint32_t value, int width) {
    TBytes bytes;
    test::PutLE(bytes, value, width);
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
  };
  put(0x3C, kPe, 4);
  put(kPe, 0x00004550, 4);  // "PE\0\0"
  put(kPe + 4, shape.Machine, 2);
  put(kPe + 20, static_cast<uint32_t>(optionalSize), 2);
  const std::size_t optional = kPe + 24;
  put(optional, shape.Pe32Plus ? 0x20B : 0x10B, 2);
  put(optional + 68, shape.Subsystem, 2);
  put(optional + fixed - 4, shape.Directories, 4);
  if (shape.Directories > 4) {
    put(optional + fixed + 4 * 8, shape.CertificateOffset, 4);
    put(optional + fixed + 4 * 8 + 4, shape.CertificateSize, 4);
  }
  return image;
}

TEST(PeImage, ReadsKindAndSignature) {
  struct Row {
    const char* Name;
    TImageShape Shape;
    const char* Described;
    bool Signed;
  };
  const Row rows[] = {
      {"32-bit GUI program, unsigned",
       {false, 0x14C, 2, 16, 0, 0},
       "PE32 for i386, Windows GUI",
       false},
      {"32-bit GUI program, signed",
       {false, 0x14C, 2, 16, 0x21000, 0x5E8},
       "PE32 for i386, Windows GUI",
       true},
      {"64-bit GUI program, signed",
       {true, 0x8664, 2, 16, 0x18000, 0x700},
       "PE32+ for x86-64, Windows GUI",
       true},
      {"64-bit console program", {true, 0x8664, 3, 16, 0, 0}, "PE32+ for x86-64, console", false},
      // Too few directories to hold a certificate table: a table past them is not read.
      {"four directories only",
       {false, 0x14C, 2, 4, 0x21000, 0x5E8},
       "PE32 for i386, Windows GUI",
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    const auto image = voarc::ReadPeImage(ImageBytes(row.Shape));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->Describe(), row.Described);
    EXPECT_EQ(image->Signed(), row.Signed);
    if (row.Signed) {
      EXPECT_EQ(image->CertificateOffset, row.Shape.CertificateOffset);
      EXPECT_EQ(image->CertificateSize, row.Shape.CertificateSize);
    }
  }
}

TEST(PeImage, NoImageInOtherFiles) {
  const TBytes good = ImageBytes({false, 0x14C, 2, 16, 0x21000, 0x5E8});
  struct Row {
    const char* Name;
    TBytes File;
  };
  std::vector<Row> rows = {
      {"empty", {}},
      {"an ELF program", {0x7F, 'E', 'L', 'F', 1, 1, 1, 0}},
      {"cut inside the DOS header", TBytes(good.begin(), good.begin() + 0x3E)},
      {"cut inside the optional header", TBytes(good.begin(), good.begin() + 0x80 + 24 + 50)},
  };
  TBytes farSignature = good;
  farSignature[0x3C] = 0xF0;
  farSignature[0x3F] = 0x7F;  // the signature's offset lies far beyond the file
  rows.push_back({"signature beyond the file", farSignature});
  TBytes noSignature = good;
  noSignature[0x80] = 'N';
  rows.push_back({"no PE signature", noSignature});
  TBytes romImage = good;
  romImage[0x80 + 24] = 0x07;  // an optional header magic of neither width
  rows.push_back({"unknown optional header", romImage});
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    EXPECT_FALSE(voarc::ReadPeImage(row.File).has_value());
  }
}

}  // namespace
}  // namespace vo
