#include "tools/voarc/items.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "archive/entry_name.h"
#include "core/messages.h"

namespace vo::voarc {

namespace {

namespace fs = std::filesystem;

// A name from a path: its parts joined by backslashes.
std::string EntryNameOfPath(const fs::path& path) {
  std::string name = TextOf(path.generic_u8string());
  std::replace(name.begin(), name.end(), '/', kEntrySeparator);
  return name;
}

// The entry name an item given by its path stands for, and what of the path was left out.
struct TItemName {
  std::string Name;  // empty: a folder's files go at the top
  std::string LeftOut;
};

TItemName NameOfItem(const std::string& item) {
  fs::path path = PathOf(item).lexically_normal();
  if (!path.empty() && path.filename().empty()) path = path.parent_path();  // "d/" is "d"
  const bool outside = path.has_root_path() || (!path.empty() && *path.begin() == "..");
  if (!outside) {
    std::string name = EntryNameOfPath(path);
    return {name == "." ? std::string() : name, {}};
  }
  // Relative to the folder it lies in, as from there: its own name, or for a root or "..",
  // none at all.
  const fs::path own = path.filename();
  if (own.empty() || own == "..") return {{}, TextOf(path)};
  return {TextOf(own), TextOf(path.parent_path() / "")};
}

class TItemWalk {
 public:
  TItemWalk(const TItemOptions& options, std::vector<TWriterEntry>& entries)
      : Options(options), Entries(entries) {}

  // The file or folder at path under name; top for an item itself, which must be there.
  void Add(const fs::path& path, const std::string& name, bool top) {
    const std::string shown = TextOf(path);
    std::error_code error;
    const fs::file_status status = fs::status(path, error);  // through links
    if (!fs::exists(status)) {
      std::error_code ignored;
      const bool link = fs::is_symlink(fs::symlink_status(path, ignored));
      const bool missing = status.type() == fs::file_type::not_found;
      // What a folder holds may be a link that leads nowhere, or round in a circle: left out.
      // What the command line names must be there.
      if (link && !top) return Skip(shown, missing ? "a link that leads nowhere" : error.message());
      if (missing) throw TToolError("no such file or folder: " + shown);
      throw EFOpenError(FailureText(kMsgOpenFailed, shown, error.message()));
    }
    if (fs::is_directory(status)) {
      const auto identity = IdentityOfFile(shown);
      if (identity && std::find(Folders.begin(), Folders.end(), *identity) != Folders.end())
        return Skip(shown, "a link to a folder that holds it");
      Folders.push_back(identity.value_or(TFileIdentity{}));
      Folder(path, name);
      Folders.pop_back();
      return;
    }
    if (!fs::is_regular_file(status)) {
      if (top) throw TToolError(shown + " is no file nor folder: only those are archived");
      return Skip(shown, "no file nor folder");
    }
    const auto identity = IdentityOfFile(shown);
    if (identity && std::find(Options.Archives.begin(), Options.Archives.end(), *identity) !=
                        Options.Archives.end())
      return Skip(shown, "it is the archive being written");
    Entries.push_back(EntryFor(name, shown, Options.CodePage));
  }

  // The entry of the file at path under name, typed or taken from a path (UTF-8), whose bytes
  // are those of the code page.
  static TWriterEntry EntryFor(const std::string& name, const std::string& path,
                               const TCodePage& codePage) {
    const std::optional<std::string> stored = codePage.EntryName(name);
    if (!stored)
      throw EInvalidEntryName(kMsgInvalidEntryName + ('"' + name + "\" from " + path + ": ") +
                              kMsgNoFormInCodePage + std::to_string(codePage.Number));
    TWriterEntry entry{*stored, path, std::nullopt};
    entry.ShownName = name;
    return entry;
  }

 private:
  void Folder(const fs::path& folder, const std::string& prefix) {
    const auto failed = [&](const std::error_code& error) {
      return EFOpenError(FailureText(kMsgReadFolderFailed, TextOf(folder), error.message()));
    };
    std::error_code error;
    std::vector<std::pair<std::string, fs::path>> children;
    fs::directory_iterator it(folder, error);
    if (error) throw failed(error);
    for (; it != fs::directory_iterator(); it.increment(error)) {
      children.emplace_back(TextOf(it->path().filename()), it->path());
    }
    if (error) throw failed(error);
    // In name order, byte by byte, so that every system packs a folder alike.
    std::sort(children.begin(), children.end());
    for (const auto& [child, path] : children)
      Add(path, prefix.empty() ? child : prefix + kEntrySeparator + child, false);
  }

  static void Skip(const std::string& path, const std::string& why) {
    Note("skipped " + path + ": " + why);
  }

  const TItemOptions& Options;
  std::vector<TWriterEntry>& Entries;
  std::vector<TFileIdentity> Folders;  // the folders being walked, outermost first
};

}  // namespace

void AddItem(const std::string& item, const TItemOptions& options,
             std::vector<TWriterEntry>& entries) {
  TItemWalk walk(options, entries);
  if (const auto eq = item.find('='); eq != std::string::npos) {
    std::string name = item.substr(0, eq);
    const fs::path path = PathOf(item.substr(eq + 1));
    std::error_code error;
    if (fs::is_directory(path, error)) {
      while (!name.empty() && name.back() == kEntrySeparator) name.pop_back();
    }
    walk.Add(path, name, true);
    return;
  }
  const TItemName named = NameOfItem(item);
  if (!named.LeftOut.empty()) {
    Note("leading \"" + named.LeftOut + "\" left out of \"" + item + "\": " +
         (named.Name.empty() ? "its files go at the top" : "stored as \"" + named.Name + "\""));
  }
  walk.Add(PathOf(item), named.Name, true);
}

}  // namespace vo::voarc
