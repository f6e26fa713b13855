#include "core/memory_stream.h"

#include <algorithm>
#include <cstring>

namespace vo {

std::size_t TMemoryStream::Read(void* buffer, std::size_t count) {
  if (Pos >= Data.size()) return 0;
  const std::size_t n = std::min(count, Data.size() - Pos);
  std::memcpy(buffer, Data.data() + Pos, n);
  Pos += n;
  return n;
}

std::size_t TMemoryStream::Write(const void* buffer, std::size_t count) {
  if (count == 0) return 0;
  if (Pos + count > Data.size()) Data.resize(Pos + count);
  std::memcpy(Data.data() + Pos, buffer, count);
  Pos += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = 0;
  if (origin == TSeekOrigin::Current) base = static_cast<int64_t>(Pos);
  if (origin == TSeekOrigin::End) base = static_cast<int64_t>(Data.size());
  const int64_t target = base + offset;
  if (target < 0) return -1;
  Pos = static_cast<std::size_t>(target);
  return target;
}

}  // namespace vo
