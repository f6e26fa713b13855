// `voarc sfx` attaches an archive to a loader stub as its payload block and patches the stamp;
// `voarc info` tells what a loader file carries.
#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "archive/component.h"
#include "archive/entry_name.h"
#include "archive/inspect.h"
#include "archive/writer.h"
#include "core/file_stream.h"
#include "core/little_endian.h"
#include "core/os.h"
#include "core/stdio_stream.h"
#include "core/stream_window.h"
#include "core/temp_file.h"
#include "loader/payload.h"
#include "loader/platform.h"
#include "loader/setup.h"
#include "tools/voarc/cli.h"
#include "tools/voarc/items.h"
#include "tools/voarc/pe_image.h"
#include "tools/voarc/report.h"
#include "tools/voarc/stubs.h"

namespace vo::voarc {

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  TFileStream in(path, kOpenReadShared, path);
  std::vector<uint8_t> bytes(static_cast<std::size_t>(std::max<int64_t>(in.Size(), 0)));
  in.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

// Info reads a loader file a chunk at a time: a setup may be far larger than memory should be.
constexpr std::size_t kInfoChunk = std::size_t{1} << 20;

struct TFileStamp {
  int64_t ValueAt = 0;
  bool Patched = false;
};

// The first stamp of a file, searched in overlapping chunks so that one across a chunk's end
// lies whole in the next.
std::optional<TFileStamp> FindFileStamp(TStream& file) {
  std::vector<uint8_t> chunk(kInfoChunk);
  for (int64_t base = 0;; base += static_cast<int64_t>(chunk.size() - kPayloadStampSize + 1)) {
    file.SetPosition(base);
    const std::size_t n = file.Read(chunk.data(), chunk.size());
    if (const auto stamp = FindStubStamp(std::span(chunk.data(), n)))
      return TFileStamp{base + static_cast<int64_t>(stamp->ValueAt), stamp->Patched};
    if (n < chunk.size()) return std::nullopt;
  }
}

template <typename T>
T ReadLittleEndianAt(TStream& file, int64_t at) {
  uint8_t bytes[sizeof(T)] = {};
  file.SetPosition(at);
  file.ReadBuffer(bytes, sizeof bytes);
  return LoadLittleEndian<T>(bytes);
}

struct TSfxOptions {
  unsigned CodePage = TCodePage::kDefault;
  std::string Stub;
  std::string Output;
  std::string Installer;
  std::vector<std::string> Inputs;  // the archive, or with --installer the further items
};

// The archive about to travel in a setup, at the stream's position, checked as `test` checks
// it. The loader does not test a stored entry's sum, so a stored installer is refused too: its
// damage would start a changed installer.
void CheckPayloadArchive(const TGlobalOptions& global, TStream& stream, const std::string& label,
                         const TCodePage& codePage) {
  TVoViriDudodado component;
  const TArchiveListing listing = ListArchiveFile(component, stream, label);
  const std::vector<TEntryTest> results =
      TestReachableEntries(global, component, stream, listing, codePage);
  if (!TestReportPassed(listing, results)) {
    for (const std::string& line : FormatTestReport(listing, results, codePage))
      if (line.rfind("OK", 0) != 0) std::fprintf(stderr, "%s\n", line.c_str());
    throw TToolError(label + " fails its test: no setup was written");
  }
  for (const TListedEntry& entry : listing.Entries) {
    if (entry.Reachable && entry.Header.Method == kMethodNon &&
        SameNameIgnoringAsciiCase(entry.Name, kInstallerEntryName))
      throw TToolError(label + " holds the installer stored, where no checksum covers it: " +
                       "let sfx --installer pack it, or archive it compressed");
  }
}

void WriteSelfExtractor(const TGlobalOptions& global, const TSfxOptions& options) {
  if (options.Installer.empty() && options.Inputs.size() != 1)
    throw TUsageError("sfx takes one ARCHIVE, or --installer FILE and further items");
  const TCodePage codePage(options.CodePage);
  const std::string stub_path = LocateStub(options.Stub);
  const std::vector<uint8_t> image = ReadWholeFile(stub_path);
  const auto stamp = FindStubStamp(image);
  if (!stamp) throw TToolError(stub_path + " is not a loader stub: it holds no payload stamp");
  if (stamp->Patched) throw TToolError(stub_path + " already carries a payload");
  // A signature covers the whole file as it was signed: a payload appended behind it breaks it.
  if (const auto pe = ReadPeImage(image); pe && pe->Signed())
    throw TToolError(stub_path +
                     " is signed, and a payload attached to it would break its signature: build "
                     "the setup from the unsigned stub and sign the setup after building it");

  // Whole and checked, or not at all: written beside OUT, given the stub's mode, then renamed
  // into place. The stub, the block and the archive stream straight into it.
  TTempFile out(options.Output);
  TFileStream& stream = out.Stream();
  std::string label;
  const auto writeArchive = [&](TStream& target) {
    if (options.Installer.empty()) {
      label = options.Inputs.front();
      TFileStream archive(label, kOpenReadShared, label);
      target.CopyFrom(archive, 0);
      return;
    }
    label = "the archive for " + options.Output;
    TWriterEntry installer{kInstallerEntryName, options.Installer, std::nullopt};
    installer.Coded = true;  // so that the loader's checksum covers it
    std::vector<TWriterEntry> entries = {installer};
    TItemOptions items{codePage, {}};
    for (const std::string& path : {options.Output, out.Path()})
      if (const auto identity = IdentityOfFile(path)) items.Archives.push_back(*identity);
    for (const std::string& item : options.Inputs) AddItem(item, items, entries);
    TWriterOptions writer;
    writer.Threads = std::max(1u, std::thread::hardware_concurrency());
    WriteArchiveTo(target, std::move(entries), writer, {options.Output, options.Output});
  };
  const int64_t offset = AttachPayload(stream, image, writeArchive);
  const int64_t start = offset + static_cast<int64_t>(kPayloadLengthSize);
  const int64_t archiveSize = stream.Position() - start;
  stream.SetPosition(start);
  CheckPayloadArchive(global, stream, label, codePage);
  out.CopyPermissionsFrom(stub_path);
  out.Commit(TCommitMode::Replace);
  if (!global.Quiet && IsTerminal(stderr))
    std::fprintf(stderr, "voarc: wrote %s: %zu bytes of loader, %lld bytes of archive\n",
                 TerminalText(options.Output).c_str(), static_cast<std::size_t>(offset),
                 static_cast<long long>(archiveSize));
}

struct TInfoOptions {
  unsigned CodePage = TCodePage::kDefault;
  std::string Path;
};

void Info(const TInfoOptions& options) {
  const std::string& path = options.Path;
  TFileStream file(path, kOpenReadShared, path);
  const int64_t fileSize = file.Size();
  const auto stamp = FindFileStamp(file);
  if (!stamp) {
    std::printf("%s: no payload stamp; not a loader\n", TerminalText(path).c_str());
    throw TExit{kExitDataError};
  }
  // An image's headers lie at its start.
  std::vector<uint8_t> head(static_cast<std::size_t>(std::min<int64_t>(fileSize, kInfoChunk)));
  file.SetPosition(0);
  file.ReadBuffer(head.data(), head.size());
  if (const auto pe = ReadPeImage(head)) {
    std::printf("image:          %s\n", pe->Describe().c_str());
    if (pe->Signed())
      std::printf("signature:      certificate table at offset %u, %u bytes (not verified here)\n",
                  pe->CertificateOffset, pe->CertificateSize);
    else
      std::printf("signature:      none\n");
  }
  std::printf("stamp:          at offset %lld\n",
              static_cast<long long>(stamp->ValueAt - static_cast<int64_t>(kPayloadMarkerSize)));
  if (!stamp->Patched) {
    std::printf("payload:        none (a stub without payload)\n");
    return;
  }
  const auto offset = ReadLittleEndianAt<int32_t>(file, stamp->ValueAt);
  if (offset <= 0 || offset + static_cast<int64_t>(kPayloadLengthSize) > fileSize) {
    std::printf("payload offset: %d, outside the file: the loader finds no payload\n", offset);
    throw TExit{kExitDataError};
  }
  const uint32_t length = ReadPayloadLength(file, offset);
  std::printf("payload offset: %d\npayload length: %u\n", offset, length);
  const int64_t start = offset + static_cast<int64_t>(kPayloadLengthSize);
  const int64_t available = fileSize - start;
  if (length > available) {
    std::printf("payload:        cut short: %lld of %u bytes present\n",
                static_cast<long long>(available), length);
    throw TExit{kExitDataError};
  }
  TStreamWindow archive(file, start, length);
  TVoViriDudodado component;
  const TArchiveListing listing = ListArchive(component, archive);
  std::printf("archive:        method %.3s, %zu entries, %d bytes expanded\n",
              listing.MethodID.c_str(), listing.Entries.size(), listing.Header.TotalExpandedSize);
  std::fputs(FormatListingTable(listing, TCodePage(options.CodePage)).c_str(), stdout);
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
  AddCodePageOption(*sfx, options->CodePage);
  sfx->add_option("INPUT", options->Inputs, "ARCHIVE, or with --installer the further ITEMs");
  sfx->callback([&global, options] { WriteSelfExtractor(global, *options); });

  auto info_options = std::make_shared<TInfoOptions>();
  auto* info = app.add_subcommand("info", "tell what a loader file carries");
  AddCodePageOption(*info, info_options->CodePage);
  info->add_option("FILE", info_options->Path, "loader file")->required();
  info->callback([info_options] { Info(*info_options); });
}

}  // namespace vo::voarc
