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
#include "core/memory_stream.h"
#include "core/os.h"
#include "core/stdio_stream.h"
#include "core/temp_file.h"
#include "loader/payload.h"
#include "loader/platform.h"
#include "loader/setup.h"
#include "tools/voarc/cli.h"
#include "tools/voarc/pe_image.h"
#include "tools/voarc/report.h"
#include "tools/voarc/stubs.h"

namespace vo::voarc {

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  TFileStream in(path, kOpenReadShared);
  std::vector<uint8_t> bytes(static_cast<std::size_t>(std::max<int64_t>(in.Size(), 0)));
  in.ReadBuffer(bytes.data(), bytes.size());
  return bytes;
}

struct TSfxOptions {
  std::string Stub;
  std::string Output;
  std::string Installer;
  std::vector<std::string> Inputs;  // the archive, or with --installer the further items
};

// The archive about to travel in a setup, at the stream's position, checked as `test` checks
// it. The loader does not test a stored entry's sum, so a stored installer is refused too: its
// damage would start a changed installer.
void CheckPayloadArchive(const TGlobalOptions& global, TStream& stream, const std::string& label) {
  TVoViriDudodado component;
  const TArchiveListing listing = ListArchiveFile(component, stream, label);
  const std::vector<TEntryTest> results = TestReachableEntries(global, component, stream, listing);
  if (!TestReportPassed(listing, results)) {
    for (const std::string& line : FormatTestReport(listing, results))
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
      TFileStream archive(label, kOpenReadShared);
      target.CopyFrom(archive, 0);
      return;
    }
    label = "the archive for " + options.Output;
    TWriterEntry installer{kInstallerEntryName, options.Installer, std::nullopt};
    installer.Coded = true;  // so that the loader's checksum covers it
    std::vector<TWriterEntry> entries = {installer};
    for (const std::string& item : options.Inputs) AddItem(item, entries);
    TWriterOptions writer;
    writer.Threads = std::max(1u, std::thread::hardware_concurrency());
    WriteArchiveTo(target, std::move(entries), writer, options.Output);
  };
  const int64_t offset = AttachPayload(stream, image, writeArchive);
  const int64_t start = offset + static_cast<int64_t>(kPayloadLengthSize);
  const int64_t archiveSize = stream.Position() - start;
  stream.SetPosition(start);
  CheckPayloadArchive(global, stream, label);
  out.CopyPermissionsFrom(stub_path);
  out.Commit(TCommitMode::Replace);
  if (!global.Quiet && StandardErrorIsTerminal())
    std::fprintf(stderr, "voarc: wrote %s: %zu bytes of loader, %lld bytes of archive\n",
                 TerminalText(options.Output).c_str(), static_cast<std::size_t>(offset),
                 static_cast<long long>(archiveSize));
}

void Info(const std::string& path) {
  const std::vector<uint8_t> file = ReadWholeFile(path);
  const auto stamp = FindStubStamp(file);
  if (!stamp) {
    std::printf("%s: no payload stamp; not a loader\n", TerminalText(path).c_str());
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
  std::printf("stamp:          at offset %zu\n", stamp->ValueAt - kPayloadMarkerSize);
  if (!stamp->Patched) {
    std::printf("payload:        none (a stub without payload)\n");
    return;
  }
  const auto offset = LoadLittleEndian<int32_t>(&file[stamp->ValueAt]);
  if (offset <= 0 || static_cast<uint64_t>(offset) + kPayloadLengthSize > file.size()) {
    std::printf("payload offset: %d, outside the file: the loader finds no payload\n", offset);
    throw TExit{kExitDataError};
  }
  const auto length = LoadLittleEndian<uint32_t>(&file[static_cast<std::size_t>(offset)]);
  std::printf("payload offset: %d\npayload length: %u\n", offset, length);
  const std::size_t start = static_cast<std::size_t>(offset) + kPayloadLengthSize;
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
