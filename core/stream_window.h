// The bytes [start, start + size) of another stream, as a stream of their own: an archive
// that travels inside a larger file, such as the payload of a setup, read where it lies.
#pragma once

#include <cstdint>

#include "core/stream.h"

namespace vo {

class TStreamWindow final : public TStream {
 public:
  TStreamWindow(TStream& inner, int64_t start, int64_t size)
      : Inner(inner), Start(start), Length(size) {}
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void*, std::size_t) override { return 0; }  // read only
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return Length; }

 private:
  TStream& Inner;
  int64_t Start;
  int64_t Length;
  int64_t Pos = 0;
};

}  // namespace vo
