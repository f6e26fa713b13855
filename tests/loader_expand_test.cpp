#include <gtest/gtest.h>

#include "core/exception.h"
#include "core/memory_stream.h"
#include "loader/ViriDudodadoIntf.h"
#include "tests/support/archive_bytes.h"
#include "tests/support/loader_files.h"

namespace vo {
namespace {

using test::TBytes;

TEST(ExpandFromArchive, CountsTheMatchesAndPassesErrorsOn) {
  test::TScratchFolder folder("expand");
  const TBytes installer = test::Filler(5000, 3);
  const std::string good = folder.Path("good.arc");
  test::WriteFile(
      good,
      test::ArchiveBytes({{"Installer\\VoInstall.exe", installer, 5000}, {"x", {1, 2}, 2}}, "NON"));
  TMemoryStream out;
  EXPECT_EQ(ExpandFromArchive(good, out, "installer\\voinstall.EXE", {}), 1);
  EXPECT_EQ(out.Data, installer);

  TMemoryStream none;
  EXPECT_EQ(ExpandFromArchive(good, none, "Installer\\Other.exe", {}), 0);
  EXPECT_TRUE(none.Data.empty());

  const std::string bad = folder.Path("bad.arc");
  const TBytes abc = {'a', 'b', 'c'};
  test::WriteFile(bad, test::ArchiveBytes({{"Installer\\VoInstall.exe", abc, 3, 1, 7}}, "RLE"));
  EXPECT_THROW(ExpandFromArchive(bad, out, "Installer\\VoInstall.exe", {}), EBadChecksum);
  EXPECT_THROW(ExpandFromArchive(folder.Path("absent.arc"), out, "x", {}), EFOpenError);
}

}  // namespace
}  // namespace vo
