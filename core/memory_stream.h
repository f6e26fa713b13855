// A stream held in memory, for tests and tools.
#pragma once

#include <cstdint>
#include <vector>

#include "core/stream.h"

namespace vo {

class TMemoryStream final : public TStream {
 public:
  TMemoryStream() = default;
  explicit TMemoryStream(std::vector<uint8_t> data) : Data(std::move(data)) {}

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return static_cast<int64_t>(Data.size()); }

  std::vector<uint8_t> Data;

 private:
  std::size_t Pos = 0;
};

}  // namespace vo
