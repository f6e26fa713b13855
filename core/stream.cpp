#include "core/stream.h"

#include <algorithm>
#include <vector>

#include "core/exception.h"
#include "core/messages.h"

namespace vo {

int64_t TStream::Size() {
  const int64_t here = Position();
  const int64_t end = Seek(0, TSeekOrigin::End);
  Seek(here, TSeekOrigin::Begin);
  return end;
}

void TStream::ReadBuffer(void* buffer, std::size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(kMsgStreamRead);
}

void TStream::WriteBuffer(const void* buffer, std::size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(kMsgStreamWrite);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  if (count <= 0) return 0;
  std::vector<unsigned char> chunk(static_cast<std::size_t>(std::min<int64_t>(count, kCopyChunk)));
  for (int64_t left = count; left > 0;) {
    const auto n = static_cast<std::size_t>(std::min<int64_t>(left, kCopyChunk));
    source.ReadBuffer(chunk.data(), n);
    WriteBuffer(chunk.data(), n);
    left -= static_cast<int64_t>(n);
  }
  return count;
}

}  // namespace vo
