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
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "archive/writer.h"
#include "archive_bytes.h"

namespace {

using vo::test::TBytes;

constexpr char kMarker[] = "VoI_SIZE";
constexpr std::size_t kMarkerSize = 8;
constexpr char kEntry[] = "Installer\\VoInstall.exe";

TBytes Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// True only when every byte reached the file: a full disk may refuse the last ones only when
// the file is closed, and a setup cut short there would still look whole to the tests.
bool Save(const std::string& path, const TBytes& data) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  out.close();
  return !out.fail();
}

uint32_t Sum(const TBytes& data) {
  uint32_t sum = 0;
  for (uint8_t b : data) sum += b;
  return sum;
}

// The archive the writer makes of these entries.
TBytes Written(const std::string& path, std::vector<vo::TWriterEntry> entries) {
  vo::TWriterOptions options;
  options.Method = vo::CanCompress(vo::kMethodLh5) ? vo::kMethodLh5 : vo::kMethodNon;
  vo::WriteArchive(path, std::move(entries), options);
  return Load(path);
}

bool MakeArchive(const std::string& kind, const TBytes& installer, const std::string& path,
                 TBytes& archive) {
  const std::string text = "Read me: this archive was built for a test.\r\n";
  const vo::TWriterEntry readme{"ReadMe.txt", "", TBytes(text.begin(), text.end())};
  const vo::TWriterEntry program{kEntry, "", installer};
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
    archive = vo::test::ArchiveBytes({{kEntry, abc, 3, 1, Sum(abc) + 1}}, "RLE");
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
  TBytes setup = Load(argv[1]);
  TBytes archive;
  if (!MakeArchive(argv[4], Load(argv[5]), argv[3], archive)) {
    std::fprintf(stderr, "unknown kind %s\n", argv[4]);
    return 2;
  }
  // An offset whose lowest byte is the unpatched mark would read as no payload: a byte of
  // padding behind the image moves the block off it, as voarc sfx does.
  if ((setup.size() & 0xFF) == 'X') setup.push_back(0);
  const auto found = std::search(setup.begin(), setup.end(), kMarker, kMarker + kMarkerSize);
  if (found == setup.end() || found + kMarkerSize + 4 > setup.end() || found[kMarkerSize] != 'X') {
    std::fprintf(stderr, "%s holds no unpatched stamp\n", argv[1]);
    return 1;
  }
  // The stamp gets the stub's size, where the block begins: length, then the archive.
  const auto stubSize = static_cast<uint32_t>(setup.size());
  for (int i = 0; i < 4; ++i) found[kMarkerSize + i] = static_cast<uint8_t>(stubSize >> (8 * i));
  vo::test::PutLE(setup, static_cast<uint32_t>(archive.size()), 4);
  setup.insert(setup.end(), archive.begin(), archive.end());
  if (!Save(argv[2], setup) || !Save(argv[3], archive)) {
    std::fprintf(stderr, "cannot write %s or %s\n", argv[2], argv[3]);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return MakeSetup(argc, argv);
  } catch (const vo::Exception& error) {
    std::fprintf(stderr, "%s: %s\n", error.ClassName(), error.what());
    return 1;
  }
}
