// A file that appears under its name only once it is complete. It is written under a fresh,
// unpredictable name in the folder of its target, created exclusively (never through a link
// planted under that name), and either committed, that is renamed onto the target, or removed:
// by the destructor, or by the interrupt handler of RemoveTempFilesOnInterrupt.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "core/file_stream.h"

namespace vo {

enum class TCommitMode {
  Replace,    // an existing file at the target is replaced (a folder never is)
  NoReplace,  // anything at the target makes the commit fail
};

// Its failures name the target (or shownName), never the temporary name, with the system's
// reason: "cannot write out.voa: No space left on device".
class TTempFile {
 public:
  // Creates the file beside target. Raises EFCreateError ("cannot create <target>: <reason>").
  explicit TTempFile(const std::string& target, const std::string& shownName = {});
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  TFileStream& Stream() { return *File; }
  const std::string& Path() const { return TempPath; }
  const std::string& Target() const { return TargetPath; }

  // Gives the file the permission bits of the file at path (nothing on Windows).
  void CopyPermissionsFrom(const std::string& path);

  // Gives the file the modification time when one is given, closes it (EWriteError when it
  // cannot be flushed) and renames it onto the target, which is replaced as the mode allows.
  // A link at the target is replaced, never followed; a folder, a device or a pipe never. Raises
  // EFCreateError ("cannot create <target>: <reason>") when the rename is refused; the temporary
  // file is then removed by the destructor as usual.
  void Commit(TCommitMode mode, std::optional<std::time_t> modified = std::nullopt);

 private:
  std::string TargetPath;
  std::string ShownName;
  std::string TempPath;
  int Slot = -1;  // in the registry of files to remove on an interrupt
  std::optional<TFileStream> File;
  bool Committed = false;
};

// Installs, once per process, handlers for SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl+C,
// Ctrl+Break and SIGTERM) that remove every temporary file not yet committed or removed and
// then end the process as the signal would have: a shell sees the exit code 128 + signal.
void RemoveTempFilesOnInterrupt();

}  // namespace vo
