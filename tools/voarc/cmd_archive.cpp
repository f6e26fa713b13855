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
#include "core/messages.h"
#include "core/os.h"
#include "core/stdio_stream.h"
#include "core/temp_file.h"
#include "tools/voarc/archive_input.h"
#include "tools/voarc/cli.h"
#include "tools/voarc/items.h"
#include "tools/voarc/report.h"

namespace vo::voarc {

namespace fs = std::filesystem;

namespace {

struct TCreateOptions {
  std::string Method = "lh5";
  std::string Key;
  unsigned Jobs = 0;
  unsigned CodePage = TCodePage::kDefault;
  std::string Archive;
  std::vector<std::string> Items;
};

void Create(const TGlobalOptions& global, const TCreateOptions& options) {
  TWriterOptions writer;
  writer.Method = MethodOfName(options.Method);
  writer.Key = KeyOf(options.Key);
  if (writer.Method == kMethodNon && writer.Key != 0)
    throw TUsageError("-m non cannot take a key: stored entries would not be hidden by it");
  const bool toOutput = options.Archive == kStandardStreamArgument;
  if (toOutput && IsTerminal(stdout))
    throw TUsageError("an archive is no text for a terminal: redirect standard output");
  TItemOptions items{TCodePage(options.CodePage), {}};
  if (const auto archive = toOutput ? IdentityOfStandardOutput() : IdentityOfFile(options.Archive))
    items.Archives.push_back(*archive);
  std::vector<TWriterEntry> entries;
  for (const std::string& item : options.Items) AddItem(item, items, entries);
  writer.Threads =
      options.Jobs != 0 ? options.Jobs : std::max(1u, std::thread::hardware_concurrency());
  int64_t bytes = 0;
  for (const TWriterEntry& entry : entries) {
    std::error_code error;
    bytes += static_cast<int64_t>(fs::file_size(PathOf(entry.SourcePath), error));
  }
  TProgress progress(global, toOutput ? kStandardOutputName : options.Archive, bytes);
  const std::size_t total = entries.size();
  std::size_t written = 0;
  writer.OnEntryWritten = [&](const TWriterEntry&, const TEntryHeader&) {
    progress.Show(static_cast<int32_t>(++written * 100 / total));
  };
  if (!toOutput && !CannotSeek(options.Archive))
    return WriteArchive(options.Archive, std::move(entries), writer);
  // Standard output, a pipe or a device cannot seek: every entry is packed before its header
  // goes out, and one too large for memory waits in the temporary folder.
  std::error_code error;
  const fs::path folder = fs::temp_directory_path(error);
  const auto write = [&](TStream& out, const std::string& label) {
    WriteArchiveTo(out, std::move(entries), writer,
                   {TextOf(folder / "voarc-spool"),
                    "a temporary file for " + label + " in " + TextOf(folder)});
  };
  if (toOutput) {
    TStdioStream out(TStdioStream::TChannel::Output);
    write(out, kStandardOutputName);
    out.Flush();
    return;
  }
  TFileStream out(options.Archive, kOpenWriteExisting, options.Archive);
  write(out, options.Archive);
  out.Close();
}

struct TReadOptions {
  std::string Key;
  unsigned CodePage = TCodePage::kDefault;
  std::string Archive;
  std::vector<std::string> Names;
  std::string Directory = ".";
  bool Force = false;
  bool Json = false;
};

// Says on standard error what damage the archive holds, if any; true when it holds none.
bool ReportDamage(const TArchiveInput& input, const TArchiveListing& listing,
                  const TCodePage& codePage) {
  const std::string damage = FormatDamage(listing, codePage);
  if (damage.empty()) return true;
  Note(input.Label() + ": damaged archive: " + damage);
  return false;
}

void List(const TReadOptions& options) {
  const TCodePage codePage(options.CodePage);
  TArchiveInput input(options.Archive);
  TVoViriDudodado component;
  const TArchiveListing listing = ListArchiveFile(component, input.Stream(), input.Label());
  std::fputs(
      (options.Json ? FormatListingJson(listing, codePage) : FormatListingTable(listing, codePage))
          .c_str(),
      stdout);
}

int Test(const TGlobalOptions& global, const TReadOptions& options) {
  const TCodePage codePage(options.CodePage);
  TArchiveInput input(options.Archive);
  TVoViriDudodado component;
  component.Key = KeyOf(options.Key);
  const TArchiveListing listing = ListArchiveFile(component, input.Stream(), input.Label());
  const std::vector<TEntryTest> results =
      TestReachableEntries(global, component, input.Stream(), listing, codePage);
  for (const std::string& line : FormatTestReport(listing, results, codePage))
    std::printf("%s\n", line.c_str());
  const bool passed = TestReportPassed(listing, results);
  if (!passed) Note(input.Label() + ": test failed");
  return passed ? kExitOk : kExitDataError;
}

// The names typed on the command line as patterns of entry names: in the code page, or
// nothing for one that has no form there and so picks no entry.
std::vector<std::optional<std::string>> PatternsOf(const std::vector<std::string>& names,
                                                   const TCodePage& codePage) {
  std::vector<std::optional<std::string>> patterns;
  for (const std::string& name : names) patterns.push_back(codePage.EntryName(name));
  return patterns;
}

bool Picks(const std::optional<std::string>& pattern, const std::string& name) {
  return pattern && PatternPicksName(*pattern, name);
}

std::string NoEntryNamed(const std::string& name, const TArchiveInput& input) {
  return "no entry named \"" + name + "\" in " + input.Label();
}

// Writes the entries that the names pick to standard output, as the reader finds them, each
// checked as `test` checks it; a damaged archive fails once they are written.
void Cat(const TReadOptions& options) {
  const TCodePage codePage(options.CodePage);
  TArchiveInput input(options.Archive);
  TVoViriDudodado component;
  component.Key = KeyOf(options.Key);
  const TArchiveListing listing = ListArchiveFile(component, input.Stream(), input.Label());
  const auto patterns = PatternsOf(options.Names, codePage);
  TStdioStream out(TStdioStream::TChannel::Output);
  std::vector<bool> picked(patterns.size());
  for (const TListedEntry& entry : listing.Entries) {
    if (!entry.Reachable) continue;
    bool wanted = false;
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      if (!Picks(patterns[i], entry.Name)) continue;
      picked[i] = true;
      wanted = true;
    }
    if (wanted) ExpandListedEntry(component, input.Stream(), listing.MethodID, entry, out);
  }
  out.Flush();
  for (std::size_t i = 0; i < patterns.size(); ++i)
    if (!picked[i]) throw TToolError(NoEntryNamed(options.Names[i], input));
  if (!ReportDamage(input, listing, codePage)) throw TExit{kExitDataError};
}

// The file under folder that an entry name (as text) stands for, with the folders on the way
// made. An existing link or file on the way would lead the file elsewhere: refused.
fs::path PrepareTarget(const fs::path& folder, const std::string& name, const std::string& shown) {
  fs::path at = folder;
  std::size_t start = 0;
  for (std::size_t end; (end = name.find(kEntrySeparator, start)) != std::string::npos;
       start = end + 1) {
    at /= PathOf(name.substr(start, end - start));
    std::error_code error;
    const fs::file_status status = fs::symlink_status(at, error);
    if (fs::is_symlink(status))
      throw TToolError("refused entry \"" + shown + "\": " + TextOf(at) + " is a link");
    if (status.type() == fs::file_type::not_found) {
      if (!fs::create_directory(at, error) && !fs::is_directory(fs::symlink_status(at, error)))
        throw EFCreateError(FailureText(kMsgCreateFolderFailed, TextOf(at), error.message()));
    } else if (!fs::is_directory(status)) {
      throw TToolError("refused entry \"" + shown + "\": " + TextOf(at) + " is not a folder");
    }
  }
  return at / PathOf(name.substr(start));
}

// What is at path: nothing, a folder, or something else (a file, a link).
fs::file_type TypeAt(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type();
}

// The moment an entry's FileDateTime names in local time, if it names one.
std::optional<std::time_t> ModificationTimeOf(const TListedEntry& entry) {
  const std::optional<std::tm> fields = DosDateTimeFields(entry.Header.FileDateTime);
  return fields ? MomentOfLocalTime(*fields) : std::nullopt;
}

// Expands the entries of one name into their file: under a temporary name first, renamed into
// place only once every entry of the name has passed its checks, with the time of the last.
void ExtractOne(TVoViriDudodado& component, TStream& archive, const TArchiveListing& listing,
                const std::vector<const TListedEntry*>& group, const fs::path& target, bool force) {
  const std::string path = TextOf(target);
  const std::string exists = path + " exists; use -f to overwrite";
  const fs::file_type there = TypeAt(target);
  if (there == fs::file_type::directory)
    throw EFCreateError(FailureText(kMsgCreateFailed, path, kMsgIsFolder));
  if (!force && there != fs::file_type::not_found) throw TToolError(exists);
  TTempFile out(path);
  for (const TListedEntry* entry : group)
    ExpandListedEntry(component, archive, listing.MethodID, *entry, out.Stream());
  try {
    out.Commit(force ? TCommitMode::Replace : TCommitMode::NoReplace,
               ModificationTimeOf(*group.back()));
  } catch (const EFCreateError&) {
    if (!force && TypeAt(target) != fs::file_type::not_found) throw TToolError(exists);
    throw;
  }
}

// The text an entry name stands for as a path under the target folder, or why it stands for
// none: the name's bytes, and its text, must both pass the archive's name rules.
std::string PathTextOf(const std::string& name, const TCodePage& codePage) {
  const std::string shown = codePage.Shown(name);
  const auto refused = [&](const std::string& why) {
    return TToolError("refused entry \"" + shown + "\": " + why);
  };
  if (const auto fault = EntryNameFault(name)) throw refused(*fault);
  const std::optional<std::string> text = codePage.Text(name);
  if (!text) throw refused("its bytes are no text in code page " + std::to_string(codePage.Number));
  if (const auto fault = EntryNameFault(*text)) throw refused(*fault);
  return *text;
}

int Extract(const TGlobalOptions& global, const TReadOptions& options) {
  const TCodePage codePage(options.CodePage);
  TArchiveInput input(options.Archive);
  TVoViriDudodado component;
  component.Key = KeyOf(options.Key);
  const TArchiveListing listing = ListArchiveFile(component, input.Stream(), input.Label());
  const auto patterns = PatternsOf(options.Names, codePage);
  std::vector<bool> picked(patterns.size());
  // Entries of one name go into one file, in archive order, as the reader expands them.
  std::vector<std::pair<std::string, std::vector<const TListedEntry*>>> groups;
  for (const TListedEntry& entry : listing.Entries) {
    if (!entry.Reachable) continue;
    bool wanted = patterns.empty();
    for (std::size_t i = 0; i < patterns.size(); ++i) {
      if (!Picks(patterns[i], entry.Name)) continue;
      picked[i] = true;
      wanted = true;
    }
    if (!wanted) continue;
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
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    if (picked[i]) continue;
    Note(NoEntryNamed(options.Names[i], input));
    status = kExitDataError;
  }
  const fs::path folder = PathOf(options.Directory);
  std::error_code error;
  if (!fs::create_directories(folder, error) && error)
    throw EFCreateError(FailureText(kMsgCreateFolderFailed, options.Directory, error.message()));
  for (const auto& [name, group] : groups) {
    const std::string shown = codePage.Shown(name);
    try {
      const std::string text = PathTextOf(name, codePage);
      TProgress progress(global, shown, group.front()->Header.ExpandedSize);
      component.OnShowProgress = progress.Event();
      ExtractOne(component, input.Stream(), listing, group, PrepareTarget(folder, text, shown),
                 options.Force);
    } catch (const Exception& e) {
      Note(shown + ": " + e.ClassName() + ": " + e.what());
      status = kExitDataError;
    } catch (const std::exception& e) {
      Note(e.what());
      status = kExitDataError;
    }
  }
  if (!ReportDamage(input, listing, codePage)) status = kExitDataError;
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
  AddCodePageOption(*create, create_options->CodePage);
  create->add_option("ARCHIVE", create_options->Archive, "archive to write, - for standard output")
      ->required();
  create->add_option("ITEM", create_options->Items, "file, folder, or NAME=PATH")->required();
  create->callback([&global, create_options] { Create(global, *create_options); });

  auto read_options = std::make_shared<TReadOptions>();
  const char* archive_help = "archive or setup to read, - for standard input";
  auto* list = app.add_subcommand("list", "list the entries of an archive");
  list->add_flag("--json", read_options->Json, "print a JSON array");
  AddCodePageOption(*list, read_options->CodePage);
  list->add_option("ARCHIVE", read_options->Archive, archive_help)->required();
  list->callback([read_options] { List(*read_options); });

  auto* test = app.add_subcommand("test", "expand every entry and check it");
  AddKeyOption(*test, read_options->Key);
  AddCodePageOption(*test, read_options->CodePage);
  test->add_option("ARCHIVE", read_options->Archive, archive_help)->required();
  test->callback([&global, read_options] {
    if (const int status = Test(global, *read_options); status != kExitOk) throw TExit{status};
  });

  const char* name_help =
      "entry name, / or \\ between folders, ASCII case ignored; * and ? as wildcards; a folder "
      "picks everything under it";
  auto* cat = app.add_subcommand("cat", "write the entries of a name to standard output");
  AddKeyOption(*cat, read_options->Key);
  AddCodePageOption(*cat, read_options->CodePage);
  cat->add_option("ARCHIVE", read_options->Archive, archive_help)->required();
  cat->add_option("NAME", read_options->Names, name_help)->required();
  cat->callback([read_options] { Cat(*read_options); });

  auto* extract = app.add_subcommand("extract", "write entries as files under a folder");
  AddKeyOption(*extract, read_options->Key);
  AddCodePageOption(*extract, read_options->CodePage);
  extract->add_option("-C,--directory", read_options->Directory, "target folder (default .)");
  extract->add_flag("-f,--force", read_options->Force, "overwrite existing files");
  extract->add_option("ARCHIVE", read_options->Archive, archive_help)->required();
  extract->add_option("NAME", read_options->Names,
                      std::string(name_help) + " (default: every entry)");
  extract->callback([&global, read_options] {
    if (const int status = Extract(global, *read_options); status != kExitOk) throw TExit{status};
  });
}

}  // namespace vo::voarc
