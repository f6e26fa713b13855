#include "core/stdio_stream.h"

#include "core/exception.h"
#include "core/messages.h"
#include "core/os.h"

namespace vo {

TStdioStream::TStdioStream(TChannel channel) : File(channel == TChannel::Input ? stdin : stdout) {
  PrepareStandardStream(File);
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

}  // namespace vo
