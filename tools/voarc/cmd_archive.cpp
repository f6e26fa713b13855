// The archive commands of voarc: create, list, test, cat, extract.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "archive/component.h"
#include "archive/inspect.h"
#include "archive/writer.h"
#include "core/file_stream.h"
#include "core/stdio_stream.h"
#include "tools/voarc/cli.h"
#include "tools/voarc/report.h"

namespace vo::voarc {

namespace fs = std::filesystem;

namespace {

std::string ToEntryName(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

bool SameNameIgnoringAsciiCase(const std::string& a, const std::string& b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

// One ITEM of `create`: a file, a folder (recursively, in name order), or NAME=PATH.
void AddItem(const std::string& item, std::vector<TWriterEntry>& entries) {
  std::string name;
  std::string path = item;
  if (const auto eq = item.find('='); eq != std::string::npos) {
    name = item.substr(0, eq);
    path = item.substr(eq + 1);
  } else {
    name = ToEntryName(item);
  }
  std::error_code error;
  if (fs::is_directory(path, error)) {
    std::vector<fs::path> files;
    for (const auto& found : fs::recursive_directory_iterator(path)) {
      if (found.is_regular_file()) files.push_back(found.path());
    }
    std::sort(files.begin(), files.end());
    while (!name.empty() && name.back() == '\\') name.pop_back();
    for (const fs::path& file : files) {
      const std::string relative = fs::relative(file, path).generic_string();
      entries.push_back({name + "\\" + ToEntryName(relative), file.string(), std::nullopt});
    }
    return;
  }
  if (!fs::is_regular_file(path, error)) throw TToolError("no such file or folder: " + path);
  entries.push_back({name, path, std::nullopt});
}

struct TCreateOptions {
  std::string Method = "lh5";
  std::string Key;
  unsigned Jobs = 0;
  std::string Archive;
  std::vector<std::string> Items;
};

void Create(const TGlobalOptions& global, const TCreateOptions& options) {
  std::vector<TWriterEntry> entries;
  for (const std::string& item : options.Items) AddItem(item, entries);
  TWriterOptions writer;
  writer.Method = MethodOfName(options.Method);
  writer.Key = KeyOf(options.Key);
  writer.Threads = options.Jobs != 0 ? options.Jobs : std::max(1u, std::thread::hardware_concurrency());
  TProgress progress(global, options.Archive, 0);
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

void List(const TReadOptions& options) {
  TVoViriDudodado component;
  const TArchiveListing listing = ListArchive(component, options.Archive);
  std::fputs((options.Json ? FormatListingJson(listing) : FormatListingTable(listing)).c_str(),
             stdout);
}

int Test(const TGlobalOptions& global, const TReadOptions& options) {
  TVoViriDudodado component;
  component.Key = KeyOf(options.Key);
  TProgress progress(global, options.Archive, 0);
  component.OnShowProgress = progress.Event();
  const TArchiveListing listing = ListArchive(component, options.Archive);
  const std::vector<TEntryTest> results = TestArchive(component, options.Archive);
  const std::vector<std::string> lines = FormatTestReport(listing, results);
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  const bool passed = TestReportPassed(listing, results);
  if (!passed) std::fprintf(stderr, "voarc: %s: test failed\n", options.Archive.c_str());
  return passed ? kExitOk : kExitDataError;
}

void Cat(const TReadOptions& options) {
  TVoViriDudodado component;
  component.Key = KeyOf(options.Key);
  TStdioStream out(TStdioStream::TChannel::Output);
  const int32_t found = component.ExpandFile(options.Archive, out, options.Name);
  out.Flush();
  if (found == 0) throw TToolError("no entry named \"" + options.Name + "\" in " + options.Archive);
}

// Turns an entry name into a path under the target folder, or explains why it may not be one.
std::optional<std::string> UnsafeNameReason(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.front() == '\\' || name.front() == '/') return "absolute name";
  if (name.find(':') != std::string::npos) return "name with a drive";
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part == "..") return "name with a \"..\" part";
    start = end + 1;
  }
  return std::nullopt;
}

fs::path TargetPath(const fs::path& directory, const std::string& name) {
  fs::path target = directory;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("\\/", start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (!part.empty() && part != ".") target /= part;
    start = end + 1;
  }
  return target;
}

// Expands the entries of one name into their file: under a temporary name first, renamed into
// place only once every entry of the name has passed its checksum.
void ExtractOne(TVoViriDudodado& component, const std::string& archivePath,
                const TArchiveListing& listing,
                const std::vector<const TListedEntry*>& group, const fs::path& target,
                bool force) {
  std::error_code error;
  if (!force && fs::exists(target, error))
    throw TToolError(target.string() + " exists; use -f to overwrite");
  fs::create_directories(target.parent_path(), error);
  const fs::path temporary = target.string() + ".voarc-part";
  try {
    {
      TFileStream out(temporary.string(), kCreate);
      TFileStream archive(archivePath, kOpenReadExclusive);
      for (const TListedEntry* entry : group) {
        archive.SetPosition(entry->DataOffset);
        component.ExpandEntry(out, archive, entry->Header.CompressedSize,
                              entry->Header.ExpandedSize, entry->Header.Checksum,
                              entry->Header.Method, listing.MethodID, entry->Header.LockFlag);
      }
      out.Close();
    }
    fs::rename(temporary, target);
  } catch (...) {
    fs::remove(temporary, error);
    throw;
  }
}

int Extract(const TGlobalOptions& global, const TReadOptions& options) {
  TVoViriDudodado component;
  component.Key = KeyOf(options.Key);
  const TArchiveListing listing = ListArchive(component, options.Archive);
  // Entries of one name go into one file, in archive order, as the reader expands them.
  std::vector<std::pair<std::string, std::vector<const TListedEntry*>>> groups;
  for (const TListedEntry& entry : listing.Entries) {
    if (!entry.Reachable) continue;
    if (!options.Names.empty() &&
        std::none_of(options.Names.begin(), options.Names.end(),
                     [&](const std::string& n) { return SameNameIgnoringAsciiCase(n, entry.Name); }))
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
      std::fprintf(stderr, "voarc: no entry named \"%s\" in %s\n", wanted.c_str(),
                   options.Archive.c_str());
      status = kExitDataError;
    }
  }
  for (const auto& [name, group] : groups) {
    try {
      if (const auto reason = UnsafeNameReason(name))
        throw TToolError("refused entry \"" + name + "\": " + *reason);
      TProgress progress(global, name, group.front()->Header.ExpandedSize);
      component.OnShowProgress = progress.Event();
      ExtractOne(component, options.Archive, listing, group, TargetPath(options.Directory, name), options.Force);
    } catch (const Exception& e) {
      std::fprintf(stderr, "voarc: %s: %s: %s\n", name.c_str(), e.ClassName(), e.what());
      status = kExitDataError;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "voarc: %s\n", e.what());
      status = kExitDataError;
    }
  }
  return status;
}

}  // namespace

void RegisterArchiveCommands(CLI::App& app, TGlobalOptions& global) {
  auto create_options = std::make_shared<TCreateOptions>();
  auto* create = app.add_subcommand("create", "write a new archive of files and folders");
  create->add_option("-m,--method", create_options->Method, "lh5 (default), lzh or non")
      ->check(CLI::IsMember({"lh5", "lzh", "non"}));
  AddKeyOption(*create, create_options->Key);
  create->add_option("-j,--jobs", create_options->Jobs,
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
