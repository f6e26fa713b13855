// Streams for tests: a memory stream that records each transfer and can be told to fail.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "core/memory_stream.h"
#include "tests/support/bytes.h"

namespace vo::test {

class TRecordingStream final : public TStream {
 public:
  TRecordingStream() = default;
  explicit TRecordingStream(std::vector<uint8_t> data) : Inner(std::move(data)) {}

  std::size_t Read(void* buffer, std::size_t count) override {
    ReadCalls.push_back(count);
    return Inner.Read(buffer, std::min(count, ReadPiece));
  }
  std::size_t Write(const void* buffer, std::size_t count) override {
    WriteCalls.push_back(count);
    const std::size_t room = Accept - std::min(Accept, Inner.Data.size());
    return Inner.Write(buffer, std::min(count, room));
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return Inner.Seek(offset, origin); }
  int64_t Size() override { return Inner.Size(); }

  const std::vector<uint8_t>& Data() const { return Inner.Data; }

  TMemoryStream Inner;
  std::vector<std::size_t> ReadCalls;
  std::vector<std::size_t> WriteCalls;
  std::size_t Accept = std::numeric_limits<std::size_t>::max();     // bytes it takes in all
  std::size_t ReadPiece = std::numeric_limits<std::size_t>::max();  // most bytes one read gives
};

}  // namespace vo::test
