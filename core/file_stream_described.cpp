// File streams that tell their failures as a tool tells its user. A file of its own, so that
// the loader, whose streams keep the stream layer's fixed words, links none of it.
#include "core/exception.h"
#include "core/file_stream.h"
#include "core/messages.h"
#include "core/os.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

namespace vo {

namespace {

// The system's reason, or the tool's own words where they say more: a folder where a file is
// needed, a file that another opener holds.
std::string ReasonOf(const std::string& path, int error) {
#ifdef _WIN32
  const DWORD attributes =
      path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
    return kMsgIsFolder;
  if (error == ERROR_SHARING_VIOLATION) return kMsgInUse;
#else
  (void)path;
  if (error == EISDIR) return kMsgIsFolder;
  if (error == EWOULDBLOCK) return kMsgInUse;
#endif
  return SystemErrorText(error);
}

}  // namespace

TFileStream::TFileStream(const std::string& path, TFileMode mode, std::string shownName)
    : Handle(-1), ShownName(std::move(shownName)), RaiseDescribed(RaiseAsTold) {
  Open(path, mode);
}

void TFileStream::RaiseAsTold(const TFileStream& stream, TFailure failure, const std::string& path,
                              int error) {
  const std::string reason = ReasonOf(path, error);
  const std::string& name = stream.ShownName;
  switch (failure) {
    case TFailure::Open:
      throw EFOpenError(FailureText(kMsgOpenFailed, name, reason));
    case TFailure::Create:
      throw EFCreateError(FailureText(kMsgCreateFailed, name, reason));
    case TFailure::Read:
      throw EReadError(FailureText(kMsgReadFailed, name, reason));
    case TFailure::Write:
      throw EWriteError(FailureText(kMsgWriteFailed, name, reason));
    case TFailure::SetTime:
      break;
  }
  throw EWriteError(FailureText(kMsgSetTimeFailed, name, reason));
}

}  // namespace vo
