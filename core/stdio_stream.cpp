#include "core/stdio_stream.h"

#include <cerrno>

#include "core/exception.h"
#include "core/messages.h"
#include "core/os.h"

namespace vo {

TStdioStream::TStdioStream(TChannel channel) : File(channel == TChannel::Input ? stdin : stdout) {
  if (channel == TChannel::Input && IsFolder(File))
    throw EReadError(FailureText(kMsgReadFailed, kStandardInputName, kMsgIsFolder));
  PrepareStandardStream(File);
}

std::size_t TStdioStream::Read(void* buffer, std::size_t count) {
  errno = 0;
  const std::size_t got = std::fread(buffer, 1, count, File);
  if (got < count && std::ferror(File))
    throw EReadError(FailureText(kMsgReadFailed, kStandardInputName, RuntimeErrorText(errno)));
  return got;
}

std::size_t TStdioStream::Write(const void* buffer, std::size_t count) {
  errno = 0;
  const std::size_t put = std::fwrite(buffer, 1, count, File);
  if (put < count)
    throw EWriteError(FailureText(kMsgWriteFailed, kStandardOutputName, RuntimeErrorText(errno)));
  return put;
}

void TStdioStream::Flush() {
  errno = 0;
  if (std::fflush(File) != 0)
    throw EWriteError(FailureText(kMsgWriteFailed, kStandardOutputName, RuntimeErrorText(errno)));
}

}  // namespace vo
