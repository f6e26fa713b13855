#include "core/stdio_stream.h"

#include "core/exception.h"
#include "core/messages.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vo {

TStdioStream::TStdioStream(TChannel channel)
    : File(channel == TChannel::Input ? stdin : stdout) {
#ifdef _WIN32
  _setmode(_fileno(File), _O_BINARY);  // no line-end translation of archive bytes
#endif
}

std::size_t TStdioStream::Read(void* buffer, std::size_t count) {
  return std::fread(buffer, 1, count, File);
}

std::size_t TStdioStream::Write(const void* buffer, std::size_t count) {
  return std::fwrite(buffer, 1, count, File);
}

void TStdioStream::Flush() {
  if (std::fflush(File) != 0) throw EWriteError(kMsgStreamWrite);
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stderr)) != 0;
#else
  return ::isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace vo
