#include "core/stream_window.h"

#include <algorithm>

namespace vo {

std::size_t TStreamWindow::Read(void* buffer, std::size_t count) {
  const int64_t left = std::max<int64_t>(Length - Pos, 0);
  count = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(count), left));
  if (count == 0 || Inner.Seek(Start + Pos, TSeekOrigin::Begin) < 0) return 0;
  const std::size_t got = Inner.Read(buffer, count);
  Pos += static_cast<int64_t>(got);
  return got;
}

int64_t TStreamWindow::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t base = origin == TSeekOrigin::Begin     ? 0
                       : origin == TSeekOrigin::Current ? Pos
                                                        : Length;
  if (base + offset < 0) return -1;
  return Pos = base + offset;
}

}  // namespace vo
