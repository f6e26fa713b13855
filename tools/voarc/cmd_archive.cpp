// The archive commands of voarc: create, list, test, cat, extract.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "archive/component.h"
#include "archive/entry_name.h"
#include "archive/inspect.h"
#include "archive/writer.h"
#include "core/file_stream.h"
#include "core/stdio_stream.h"
#include "core/temp_file.h"
#include "tools/voarc/cli.h"
#include "tools/voarc/report.h"

namespace vo::voarc {

namespace fs = std::filesystem;

namespace {

struct TCreateOptions {
  std::string Method = "lh5";
  std::string Key;
  unsigned Jobs = 0;
  std::string Archive;
  std::vector<std::string> Items;
};

void Create(const TGlobalOptions& global, const TCreateOptions& options) {
  TWriterOptions writer;
  writer.Method = MethodOfName(options.Method);
  writer.Key = KeyOf(options.Key);
  if (writer.Method == kMethodNon && writer.Key != 0)
    throw TUsageError("-m non cannot take a key: stored entries would not be hidden by it");
  std::vector<TWriterEntry> entries;
  for (const std::string& item : options.Items) AddItem(item, entries);
  writer.Threads =
      options.Jobs != 0 ? options.Jobs : std::max(1u, std::thread::hardware_concurrency());
  int64_t bytes = 0;
  for (const TWriterEntry& entry : entries) {
    std::error_code error;
    bytes += static_cast<int64_t>(fs::file_size(entry.SourcePath, error));
  }
  TProgress progress(global, options.Archive, bytes);
  const std::size_t total = entries.size();
  std::size_t written = 0;
  writer.OnEntryWritten = [&](const TWriterEntry&, const TEntryHeader&) {
    progress.Show(static_cast<int32_t>(++written * 100 / total));
  };
  WriteArchive(options.Archive, std::move(entries), writer);
}

struct TReadOptions {
  std::string Key;
  std::string Archive;
  std::string Name;
  std::vector<std::string> Names;
  std::string Directory = ".";
  bool Force = false;
  bool Json = false;
};

// Says on standard error what damage the archive holds, if any; true when it holds none.
bool ReportDamage(const TReadOptions& options, const TArchiveListing& listing) {
  const std::string damage = ArchiveDamage(listing);
  if (damage.empty()) return true;
  std::fprintf(stderr, "voarc: %s: damaged archive: %s\n", TerminalText(options.Archive).c_str(),
               TerminalText(damage).c_str());
  return false;
}

void List(const TReadOptions& options) {
  TVoViriDudodado component;
  TFileStream archive(options.Archive, kOpenReadExclusive);
  const TArchiveListing listing = ListArchiveFile(component, archive, options.Archive);
  std::fputs((options.Json ? FormatListingJson(listing) : FormatListingTable(listing)).c_str(),
             stdout);
}

int Test(const TGlobalOptions& global, const TReadOptions& options) {
  TVoViriDudodado component;
  component.Key = KeyOf(options.Key);
  TFileStream archive(options.Archive, kOpenReadExclusive);
  const TArchiveListing listing = ListArchiveFile(component, archive, options.Archive);
  const std::vector<TEntryTest> results = TestReachableEntries(global, component, archive, listing);
  for (const std::string& line : FormatTestReport(listing, results))
    std::printf("%s\n", line.c_str());
  const bool passed = TestReportPassed(listing, results);
  if (!passed)
    std::fprintf(stderr, "voarc: %s: test failed\n", TerminalText(options.Archive).c_str());
  return passed ? kExitOk : kExitDataError;
}

// Writes the entries of the name to standard output, as the reader finds them, each checked
// as `test` checks it; a damaged archive fails once they are written.
void Cat(const TReadOptions& options) {
  TVoViriDudodado component;
  component.Key = KeyOf(options.Key);
  TFileStream archive(options.Archive, kOpenReadExclusive);
  const TArchiveListing listing = ListArchiveFile(component, archive, options.Archive);
  TStdioStream out(TStdioStream::TChannel::Output);
  int found = 0;
  for (const TListedEntry& entry : listing.Entries) {
    if (!entry.Reachable || !SameNameIgnoringAsciiCase(entry.Name, options.Name)) continue;
    ExpandListedEntry(component, archive, listing.MethodID, entry, out);
    ++found;
  }
  out.Flush();
  if (found == 0) throw TToolError("no entry named \"" + options.Name + "\" in " + options.Archive);
  if (!ReportDamage(options, listing)) throw TExit{kExitDataError};
}

// The file under folder that an entry name stands for, with the folders on the way made. An
// existing link or file on the way would lead the file elsewhere: refused.
fs::path PrepareTarget(const fs::path& folder, const std::string& name) {
  fs::path at = folder;
  std::size_t start = 0;
  for (std::size_t end; (end = name.find(kEntrySeparator, start)) != std::string::npos;
       start = end + 1) {
    at /= name.substr(start, end - start);
    std::error_code error;
    const fs::file_status status = fs::symlink_status(at, error);
    if (fs::is_symlink(status))
      throw TToolError("refused entry \"" + name + "\": " + at.string() + " is a link");
    if (status.type() == fs::file_type::not_found) {
      if (!fs::create_directory(at, error) && !fs::is_directory(fs::symlink_status(at, error)))
        throw TToolError("cannot make the folder " + at.string());
    } else if (!fs::is_directory(status)) {
      throw TToolError("refused entry \"" + name + "\": " + at.string() + " is not a folder");
    }
  }
  return at / name.substr(start);
}

bool SomethingAt(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type() != fs::file_type::not_found;
}

// Expands the entries of one name into their file: under a temporary name first, renamed into
// place only once every entry of the name has passed its checks.
void ExtractOne(TVoViriDudodado& component, TStream& archive, const TArchiveListing& listing,
                const std::vector<const TListedEntry*>& group, const fs::path& target, bool force) {
  const std::string exists = target.string() + " exists; use -f to overwrite";
  if (!force && SomethingAt(target)) throw TToolError(exists);
  TTempFile out(target.string());
  for (const TListedEntry* entry : group)
    ExpandListedEntry(component, archive, listing.MethodID, *entry, out.Stream());
  try {
    out.Commit(force ? TCommitMode::Replace : TCommitMode::NoReplace);
  } catch (const EFCreateError&) {
    if (!force && SomethingAt(target)) throw TToolError(exists);
    throw;
  }
}

int Extract(const TGlobalOptions& global, const TReadOptions& options) {
  TVoViriDudodado component;
  component.Key = KeyOf(options.Key);
  TFileStream archive(options.Archive, kOpenReadExclusive);
  const TArchiveListing listing = ListArchiveFile(component, archive, options.Archive);
  // Entries of one name go into one file, in archive order, as the reader expands them.
  std::vector<std::pair<std::string, std::vector<const TListedEntry*>>> groups;
  for (const TListedEntry& entry : listing.Entries) {
    if (!entry.Reachable) continue;
    if (!options.Names.empty() &&
        std::none_of(options.Names.begin(), options.Names.end(), [&](const std::string& n) {
          return SameNameIgnoringAsciiCase(n, entry.Name);
        }))
      continue;
    auto same = std::find_if(groups.begin(), groups.end(), [&](const auto& g) {
      return SameNameIgnoringAsciiCase(g.first, entry.Name);
    });
    if (same == groups.end()) {
      groups.push_back({entry.Name, {&entry}});
    } else {
      same->second.push_back(&entry);
    }
  }
  int status = kExitOk;
  for (const std::string& wanted : options.Names) {
    if (std::none_of(groups.begin(), groups.end(),
                     [&](const auto& g) { return SameNameIgnoringAsciiCase(g.first, wanted); })) {
      std::fprintf(stderr, "voarc: %s\n",
                   TerminalText("no entry named \"" + wanted + "\" in " + options.Archive).c_str());
      status = kExitDataError;
    }
  }
  std::error_code error;
  fs::create_directories(options.Directory, error);
  for (const auto& [name, group] : groups) {
    try {
      if (const auto fault = EntryNameFault(name))
        throw TToolError("refused entry \"" + name + "\": " + *fault);
      TProgress progress(global, name, group.front()->Header.ExpandedSize);
      component.OnShowProgress = progress.Event();
      ExtractOne(component, archive, listing, group, PrepareTarget(options.Directory, name),
                 options.Force);
    } catch (const Exception& e) {
      std::fprintf(stderr, "voarc: %s\n",
                   TerminalText(name + ": " + e.ClassName() + ": " + e.what()).c_str());
      status = kExitDataError;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "voarc: %s\n", TerminalText(e.what()).c_str());
      status = kExitDataError;
    }
  }
  if (!ReportDamage(options, listing)) status = kExitDataError;
  return status;
}

}  // namespace

void RegisterArchiveCommands(CLI::App& app, TGlobalOptions& global) {
  auto create_options = std::make_shared<TCreateOptions>();
  auto* create = app.add_subcommand("create", "write a new archive of files and folders");
  create->add_option("-m,--method", create_options->Method, "lh5 (default), lzh or non")
      ->check(CLI::IsMember(MethodNames({kMethodLh5, kMethodLzh, kMethodNon})));
  AddKeyOption(*create, create_options->Key);
  create
      ->add_option("-j,--jobs", create_options->Jobs,
                   "compress on N threads (default: the number of processors)")
      ->check(CLI::Range(1u, 256u));
  create->add_option("ARCHIVE", create_options->Archive, "archive to write")->required();
  create->add_option("ITEM", create_options->Items, "file, folder, or NAME=PATH")->required();
  create->callback([&global, create_options] { Create(global, *create_options); });

  auto read_options = std::make_shared<TReadOptions>();
  auto* list = app.add_subcommand("list", "list the entries of an archive");
  list->add_flag("--json", read_options->Json, "print a JSON array");
  list->add_option("ARCHIVE", read_options->Archive, "archive to list")->required();
  list->callback([read_options] { List(*read_options); });

  auto* test = app.add_subcommand("test", "expand every entry and check it");
  AddKeyOption(*test, read_options->Key);
  test->add_option("ARCHIVE", read_options->Archive, "archive to test")->required();
  test->callback([&global, read_options] {
    if (const int status = Test(global, *read_options); status != kExitOk) throw TExit{status};
  });

  auto* cat = app.add_subcommand("cat", "write the entries of a name to standard output");
  AddKeyOption(*cat, read_options->Key);
  cat->add_option("ARCHIVE", read_options->Archive, "archive to read")->required();
  cat->add_option("NAME", read_options->Name, "entry name (ASCII case ignored)")->required();
  cat->callback([read_options] { Cat(*read_options); });

  auto* extract = app.add_subcommand("extract", "write entries as files under a folder");
  AddKeyOption(*extract, read_options->Key);
  extract->add_option("-C,--directory", read_options->Directory, "target folder (default .)");
  extract->add_flag("-f,--force", read_options->Force, "overwrite existing files");
  extract->add_option("ARCHIVE", read_options->Archive, "archive to read")->required();
  extract->add_option("NAME", read_options->Names, "entries to extract (default: all)");
  extract->callback([&global, read_options] {
    if (const int status = Extract(global, *read_options); status != kExitOk) throw TExit{status};
  });
}

}  // namespace vo::voarc
