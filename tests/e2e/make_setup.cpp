// Builds the self-extracting setups of the loader's end-to-end tests and demo: an archive
// holding the given installer, attached to a copy of the loader stub. Well-formed archives come
// from the archive writer (LH5 when this build can compress it, else stored); damaged ones
// are built byte by byte.
//   vo_make_setup STUB OUT ARCHIVE KIND INSTALLER
// writes the archive to ARCHIVE and the setup to OUT. KIND is one of
//   good     the installer as "Installer\VoInstall.exe", and a read-me entry
//   missing  the read-me entry only
//   cut      the installer entry cut short: its data ends before its stored size
//   badsum   the installer entry as an RLE entry whose checksum is wrong
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "archive/writer.h"
#include "codec/compress.h"
#include "core/file_stream.h"
#include "loader/payload.h"
#include "tests/support/archive_bytes.h"

namespace {

using vo::test::TBytes;

constexpr char kEntry[] = "Installer\\VoInstall.exe";

// True only when every byte reached the file: a full disk may refuse the last ones only when
// the file is closed, and a setup cut short there would still look whole to the tests.
bool Save(const std::string& path, const TBytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  return !out.fail();
}

// The archive the writer makes of these entries.
TBytes Written(const std::string& path, std::vector<vo::TWriterEntry> entries) {
  vo::TWriterOptions options;
  options.Method = vo::kMethodLh5;
  vo::WriteArchive(path, std::move(entries), options);
  return vo::test::ReadFile(path);
}

bool MakeArchive(const std::string& kind, const TBytes& installer, const std::string& path,
                 TBytes& archive) {
  const std::string text = "Read me: this archive was built for a test.\r\n";
  const vo::TWriterEntry readme{"ReadMe.txt", "", TBytes(text.begin(), text.end())};
  vo::TWriterEntry program{kEntry, "", installer};
  // As voarc sfx packs it: coded even when it does not shrink, so the loader's checksum covers it.
  program.Coded = true;
  if (kind == "good") {
    archive = Written(path, {program, readme});
  } else if (kind == "missing") {
    archive = Written(path, {readme});
  } else if (kind == "cut") {
    // Stored, so that what is cut off is the program's own bytes.
    const auto size = static_cast<int32_t>(installer.size());
    archive = vo::test::ArchiveBytes({{kEntry, installer, size}}, "NON");
    archive.resize(archive.size() - installer.size() / 2);
  } else if (kind == "badsum") {
    // "abc" holds no RLE escape, so it expands to itself; the stored sum is off by one.
    const TBytes abc = {'a', 'b', 'c'};
    archive = vo::test::ArchiveBytes({{kEntry, abc, 3, 1, vo::test::ByteSum(abc) + 1}}, "RLE");
  } else {
    return false;
  }
  return true;
}

int MakeSetup(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s STUB OUT ARCHIVE good|missing|cut|badsum INSTALLER\n", argv[0]);
    return 2;
  }
  const TBytes stub = vo::test::ReadFile(argv[1]);
  TBytes archive;
  if (!MakeArchive(argv[4], vo::test::ReadFile(argv[5]), argv[3], archive)) {
    std::fprintf(stderr, "unknown kind %s\n", argv[4]);
    return 2;
  }
  // Attached as voarc sfx attaches it; a disk that refuses the last bytes fails the close.
  vo::TFileStream setup(argv[2], vo::kCreate);
  vo::AttachPayload(setup, stub,
                    [&](vo::TStream& out) { out.WriteBuffer(archive.data(), archive.size()); });
  setup.Close();
  if (!Save(argv[3], archive)) {
    std::fprintf(stderr, "cannot write %s\n", argv[3]);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  vo::RegisterCompressors();
  try {
    return MakeSetup(argc, argv);
  } catch (const vo::Exception& error) {
    std::fprintf(stderr, "%s: %s\n", error.ClassName(), error.what());
    return 1;
  }
}
