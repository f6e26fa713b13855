// The ITEMs of `create` and `sfx`: files, folders and NAME=PATH, turned into writer entries.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "archive/writer.h"
#include "core/os.h"
#include "tools/voarc/cli.h"

namespace vo::voarc {

struct TItemOptions {
  TCodePage CodePage;
  // The archive being written (the file at its name, and the file it is written into until it
  // is whole): where a folder being packed holds them, they are left out.
  std::vector<TFileIdentity> Archives;
};

// Adds one ITEM to entries:
// - NAME=PATH: the file or folder at PATH under NAME, taken as typed;
// - a file or folder under its path, with backslash separators ("./a" and "d//b" are "a" and
//   "d\b"); one given by an absolute path or with leading ".." parts under its own name alone,
//   as from the folder it lies in ("/srv/build" is "build"), which is told on standard error;
// - a folder's files, in name order, under the folder's name; a link stands for what it leads
//   to, under the link's own name. A link that leads nowhere, a link to a folder that holds it,
//   anything that is no file nor folder, and the archive being written are left out, each with
//   a note on standard error.
// Names go into the code page; a name with no form there is refused (EInvalidEntryName). A
// folder that cannot be read fails with EFOpenError naming it.
void AddItem(const std::string& item, const TItemOptions& options,
             std::vector<TWriterEntry>& entries);

}  // namespace vo::voarc
