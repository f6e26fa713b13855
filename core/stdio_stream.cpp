#include "core/stdio_stream.h"

#include <array>

#include "core/exception.h"
#include "core/messages.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace vo {

namespace {

constexpr std::size_t kStdioBufferSize = 256 * 1024;

// Codec runs move 8 KB at a time; a larger buffer saves most of the system calls, which cost
// more than moving the bytes. It is set once per channel, before the channel's first use, and
// lives as long as the process because standard input and output do.
void EnlargeBuffer(std::FILE* file, TStdioStream::TChannel channel) {
  static std::array<std::array<char, kStdioBufferSize>, 2> buffers;
  static std::array<bool, 2> done{};
  const auto index = static_cast<std::size_t>(channel);
  if (done[index]) return;
  done[index] = true;
  std::setvbuf(file, buffers[index].data(), _IOFBF, kStdioBufferSize);
}

}  // namespace

TStdioStream::TStdioStream(TChannel channel) : File(channel == TChannel::Input ? stdin : stdout) {
#ifdef _WIN32
  _setmode(_fileno(File), _O_BINARY);  // no line-end translation of archive bytes
#endif
  EnlargeBuffer(File, channel);
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
