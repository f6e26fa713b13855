// The ARCHIVE that list, test, cat and extract read. The reader moves back and forth in an
// archive (the listing first, then each entry where it lies), so what cannot seek, standard
// input ("-") or a named pipe, is first copied into a temporary file, which goes when the
// command ends; memory holds one chunk of it at a time. A setup is read where its payload lies,
// found through the stamp as the loader finds it.
#pragma once

#include <optional>
#include <string>

#include "core/file_stream.h"
#include "core/stream.h"
#include "core/stream_window.h"
#include "core/temp_file.h"

namespace vo::voarc {

class TArchiveInput {
 public:
  // Opens the archive file exclusively, as the reader does. Raises EFOpenError, the errors of
  // the copy, and TToolError for a setup whose payload is cut short.
  explicit TArchiveInput(const std::string& argument);
  TArchiveInput(const TArchiveInput&) = delete;
  TArchiveInput& operator=(const TArchiveInput&) = delete;

  // The archive, standing at its start; offsets are from there.
  TStream& Stream() { return *Archive; }
  // The archive as messages name it: its path, or "standard input".
  const std::string& Label() const { return Name; }

 private:
  TFileStream& CopyOf(TStream& input);
  void FindPayload(TFileStream& file);

  std::string Name;
  std::optional<TTempFile> Copy;
  std::optional<TFileStream> File;
  std::optional<TStreamWindow> Window;
  TStream* Archive = nullptr;
};

}  // namespace vo::voarc
