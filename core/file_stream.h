// A stream over a file, opened in one of the three modes the system uses. The sharing rules
// are those of Windows; on POSIX they are kept with advisory locks, so an exclusive opener
// keeps out every other opener that goes through this class.
#pragma once

#include <cstdint>
#include <string>

#include "core/stream.h"

namespace vo {

enum TFileMode : uint16_t {
  kOpenReadShared = 64,     // read an existing file; others may read and write it
  kOpenReadExclusive = 16,  // read an existing file; nobody else may open it
  kCreate = 65535,          // create or truncate; read and write; nobody else may open it
  // Create a file that must not exist yet, never through a link; read and write; nobody else
  // may open it. Temporary files (core/temp_file.h) are made so.
  kCreateNew = 0x8000,
};

class TFileStream final : public TStream {
 public:
  // Raises EFOpenError ("Cannot open file <path>") or, for kCreate and kCreateNew,
  // EFCreateError.
  TFileStream(const std::string& path, TFileMode mode);
  ~TFileStream() override;

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;

  // Closes now; a close that fails to flush raises EWriteError. The destructor closes quietly.
  void Close();

 private:
  intptr_t Handle;  // a file descriptor on POSIX, a HANDLE on Windows; -1 when closed
};

}  // namespace vo
