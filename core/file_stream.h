// A stream over a file, opened in one of the three modes the system uses. The sharing rules
// are those of Windows; on POSIX they are kept with advisory locks, so an exclusive opener
// keeps out every other opener that goes through this class.
#pragma once

#include <cstdint>
#include <ctime>
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
  // Write an existing file from its start as it is, never truncated: a device or a named pipe
  // that an archive is written to. Nobody else may open it.
  kOpenWriteExisting = 0x4000,
};

class TFileStream final : public TStream {
 public:
  // Failures in the stream layer's own words, which the loader and the component keep:
  // EFOpenError ("Cannot open file <path>") or, for kCreate and kCreateNew, EFCreateError; a
  // transfer that falls short moves fewer bytes, and ReadBuffer and WriteBuffer raise
  // EReadError ("Stream read error") and EWriteError ("Stream write error").
  TFileStream(const std::string& path, TFileMode mode);
  // Failures as a tool tells its user: the file by shownName and the system's reason, such as
  // "cannot write out.voa: No space left on device", and a folder where a file is needed as
  // such. A transfer that a system call fails raises at once; the end of the file does not.
  // (core/file_stream_described.cpp, which the loader never links.)
  TFileStream(const std::string& path, TFileMode mode, std::string shownName);
  ~TFileStream() override;

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override;

  // Gives the file a modification time, once its last byte is written; EWriteError when the
  // system refuses.
  void SetModificationTime(std::time_t when);
  // Closes now; a close that fails to flush raises EWriteError. The destructor closes quietly.
  void Close();

 private:
  enum class TFailure : uint8_t { Open, Create, Read, Write, SetTime };
  // Raises a failure as the tool tells it: the file, what failed and the system's error.
  using TRaiseDescribed = void (*)(const TFileStream& stream, TFailure failure,
                                   const std::string& path, int error);

  void Open(const std::string& path, TFileMode mode);
  // Raises failure in the stream's words, when it has its own.
  void Describe(TFailure failure, const std::string& path, int error) const {
    if (RaiseDescribed != nullptr) RaiseDescribed(*this, failure, path, error);
  }
  static void RaiseAsTold(const TFileStream& stream, TFailure failure, const std::string& path,
                          int error);

  intptr_t Handle;  // a file descriptor on POSIX, a HANDLE on Windows; -1 when closed
  std::string ShownName;
  TRaiseDescribed RaiseDescribed = nullptr;  // none: the stream layer's fixed words
};

}  // namespace vo
