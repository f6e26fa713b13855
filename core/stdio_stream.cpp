#include "core/stdio_stream.h"

#include <cerrno>

#include "core/exception.h"
#include "core/messages.h"
#include "core/os.h"

namespace vo {

namespace {

constexpr char kStandardInput[] = "standard input";
constexpr char kStandardOutput[] = "standard output";

}  // namespace

TStdioStream::TStdioStream(TChannel channel) : File(channel == TChannel::Input ? stdin : stdout) {
  if (channel == TChannel::Input && IsFolder(File))
    throw EReadError(FailureText(kMsgReadFailed, kStandardInput, kMsgIsFolder));
  PrepareStandardStream(File);
}

std::size_t TStdioStream::Read(void* buffer, std::size_t count) {
  errno = 0;
  const std::size_t got = std::fread(buffer, 1, count, File);
  if (got < count && std::ferror(File))
    throw EReadError(FailureText(kMsgReadFailed, kStandardInput, RuntimeErrorText(errno)));
  return got;
}

std::size_t TStdioStream::Write(const void* buffer, std::size_t count) {
  errno = 0;
  const std::size_t put = std::fwrite(buffer, 1, count, File);
  if (put < count)
    throw EWriteError(FailureText(kMsgWriteFailed, kStandardOutput, RuntimeErrorText(errno)));
  return put;
}

void TStdioStream::Flush() {
  errno = 0;
  if (std::fflush(File) != 0)
    throw EWriteError(FailureText(kMsgWriteFailed, kStandardOutput, RuntimeErrorText(errno)));
}

}  // namespace vo
