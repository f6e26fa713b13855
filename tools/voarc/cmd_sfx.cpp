// `voarc sfx` attaches an archive to a loader stub as its payload block and patches the stamp;
// `voarc info` tells what a loader file carries.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "archive/component.h"
#include "archive/inspect.h"
#include "archive/writer.h"
#include "core/file_stream.h"
#include "core/memory_stream.h"
#include "core/stdio_stream.h"
#include "loader/payload.h"
#include "loader/platform.h"
#include "tools/voarc/cli.h"
#include "tools/voarc/pe_image.h"
#include "tools/voarc/report.h"
#include "tools/voarc/stubs.h"

namespace vo::voarc {

namespace fs = std::filesystem;

namespace {

constexpr char kInstallerEntry[] = "Installer\\VoInstall.exe";

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  TFileStream in(path, kOpenReadShared);
  std::vector<uint8_t> bytes(static_cast<std::size_t>(std::max<int64_t>(in.Size(), 0)));
  in.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

uint32_t ReadLittleEndian32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Where the stamp's value begins: right behind the first marker in the file.
std::optional<std::size_t> FindStampValue(const std::vector<uint8_t>& file) {
  const auto marker = PayloadMarker();
  const auto at = std::search(file.begin(), file.end(), marker.begin(), marker.end());
  if (at == file.end()) return std::nullopt;
  return static_cast<std::size_t>(at - file.begin()) + marker.size();
}

struct TSfxOptions {
  std::string Stub;
  std::string Output;
  std::string Installer;
  std::vector<std::string> Inputs;  // the archive, or with --installer the further items
};

void WriteSelfExtractor(const TGlobalOptions& global, const TSfxOptions& options) {
  if (options.Installer.empty() && options.Inputs.size() != 1)
    throw TUsageError("sfx takes one ARCHIVE, or --installer FILE and further items");
  const std::string stub_path = LocateStub(options.Stub);
  std::vector<uint8_t> image = ReadWholeFile(stub_path);
  const auto value = FindStampValue(image);
  if (!value || *value + 4 > image.size())
    throw TToolError(stub_path + " is not a loader stub: it holds no payload stamp");
  if (image[*value] != kUnpatchedStampByte)
    throw TToolError(stub_path + " already carries a payload");
  // A signature covers the whole file as it was signed: a payload appended behind it breaks it.
  if (const auto pe = ReadPeImage(image); pe && pe->Signed())
    throw TToolError(stub_path +
                     " is signed, and a payload attached to it would break its signature: build "
                     "the setup from the unsigned stub and sign the setup after building it");

  std::vector<uint8_t> archive;
  if (options.Installer.empty()) {
    archive = ReadWholeFile(options.Inputs.front());
  } else {
    std::vector<TWriterEntry> entries = {{kInstallerEntry, options.Installer, std::nullopt}};
    for (const std::string& item : options.Inputs) {
      const auto eq = item.find('=');
      std::string name = eq == std::string::npos ? item : item.substr(0, eq);
      std::replace(name.begin(), name.end(), '/', '\\');
      entries.push_back({name, eq == std::string::npos ? item : item.substr(eq + 1), std::nullopt});
    }
    const std::string temporary = options.Output + ".voarc-archive";
    TWriterOptions writer;
    writer.Threads = std::max(1u, std::thread::hardware_concurrency());
    try {
      WriteArchive(temporary, std::move(entries), writer);
      archive = ReadWholeFile(temporary);
    } catch (...) {
      std::error_code ignored;
      fs::remove(temporary, ignored);
      throw;
    }
    fs::remove(temporary);
  }
  if (archive.size() > 0x7FFFFFFF - image.size())
    throw TToolError("the archive is too large for a payload");

  // The loader refuses an offset whose low byte reads as the unpatched mark; one byte of
  // padding behind the image moves the block off it.
  if ((image.size() & 0xFF) == kUnpatchedStampByte) image.push_back(0);
  const auto offset = static_cast<uint32_t>(image.size());
  const auto length = static_cast<uint32_t>(archive.size());
  for (unsigned i = 0; i < 4; ++i) {
    image[*value + i] = static_cast<uint8_t>(offset >> (8 * i));
    image.push_back(static_cast<uint8_t>(length >> (8 * i)));
  }
  image.insert(image.end(), archive.begin(), archive.end());

  // Whole or not at all: written beside OUT, given the stub's mode, then renamed into place.
  const std::string temporary = options.Output + ".voarc-part";
  try {
    {
      TFileStream out(temporary, kCreate);
      out.WriteBuffer(image.data(), image.size());
      out.Close();
    }
    fs::permissions(temporary, fs::status(stub_path).permissions());
    fs::rename(temporary, options.Output);
  } catch (...) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    throw;
  }
  if (!global.Quiet && StandardErrorIsTerminal())
    std::fprintf(stderr, "voarc: wrote %s: %zu bytes of loader, %u bytes of archive\n",
                 options.Output.c_str(), static_cast<std::size_t>(offset), length);
}

void Info(const std::string& path) {
  const std::vector<uint8_t> file = ReadWholeFile(path);
  const auto value = FindStampValue(file);
  if (!value || *value + 4 > file.size()) {
    std::printf("%s: no payload stamp; not a loader\n", path.c_str());
    throw TExit{kExitDataError};
  }
  if (const auto pe = ReadPeImage(file)) {
    std::printf("image:          %s\n", pe->Describe().c_str());
    if (pe->Signed())
      std::printf("signature:      certificate table at offset %u, %u bytes (not verified here)\n",
                  pe->CertificateOffset, pe->CertificateSize);
    else
      std::printf("signature:      none\n");
  }
  std::printf("stamp:          at offset %zu\n", *value - kPayloadMarkerSize);
  if (file[*value] == kUnpatchedStampByte) {
    std::printf("payload:        none (a stub without payload)\n");
    return;
  }
  const auto offset = static_cast<int32_t>(ReadLittleEndian32(&file[*value]));
  if (offset <= 0 || static_cast<uint64_t>(offset) + 4 > file.size()) {
    std::printf("payload offset: %d, outside the file: the loader finds no payload\n", offset);
    throw TExit{kExitDataError};
  }
  const uint32_t length = ReadLittleEndian32(&file[static_cast<std::size_t>(offset)]);
  std::printf("payload offset: %d\npayload length: %u\n", offset, length);
  const std::size_t start = static_cast<std::size_t>(offset) + 4;
  const std::size_t available = file.size() - start;
  if (length > available) {
    std::printf("payload:        cut short: %zu of %u bytes present\n", available, length);
    throw TExit{kExitDataError};
  }
  TMemoryStream archive(
      std::vector<uint8_t>(file.begin() + static_cast<std::ptrdiff_t>(start),
                           file.begin() + static_cast<std::ptrdiff_t>(start + length)));
  TVoViriDudodado component;
  const TArchiveListing listing = ListArchive(component, archive);
  std::printf("archive:        method %.3s, %zu entries, %d bytes expanded\n",
              listing.MethodID.c_str(), listing.Entries.size(), listing.Header.TotalExpandedSize);
  std::fputs(FormatListingTable(listing).c_str(), stdout);
}

}  // namespace

void RegisterSfxCommands(CLI::App& app, TGlobalOptions& global) {
  auto options = std::make_shared<TSfxOptions>();
  auto* sfx =
      app.add_subcommand("sfx", "attach an archive to the loader stub: a self-extracting setup");
  sfx->add_option("--stub", options->Stub,
                  "loader stub: win32 (the default), win64, posix, or the path of a stub");
  sfx->add_option("-o,--output", options->Output, "self-extracting file to write")->required();
  sfx->add_option("--installer", options->Installer,
                  "build the archive: FILE becomes Installer\\VoInstall.exe, ITEMs join it");
  sfx->add_option("INPUT", options->Inputs, "ARCHIVE, or with --installer the further ITEMs");
  sfx->callback([&global, options] { WriteSelfExtractor(global, *options); });

  auto info_path = std::make_shared<std::string>();
  auto* info = app.add_subcommand("info", "tell what a loader file carries");
  info->add_option("FILE", *info_path, "loader file")->required();
  info->callback([info_path] { Info(*info_path); });
}

}  // namespace vo::voarc
