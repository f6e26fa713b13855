// Whole-buffer runs through the engine, for the codec tests.
#pragma once

#include <cstdint>
#include <stdexcept>

#include "codec/engine.h"
#include "tests/support/bytes.h"
#include "tests/support/streams.h"

namespace vo::test {

// Room for streams longer than their input, as random data gives.
inline constexpr int32_t kNoCompressLimit = -(1 << 24);

inline ByteVector ExpandBytes(uint8_t method, const ByteVector& stored, int32_t count) {
  TRecordingStream source(stored);
  TRecordingStream sink;
  uint32_t checksum = 0;
  RunCodec(TCodecSettings{}, sink, source, static_cast<int32_t>(stored.size()), count, method,
           checksum, TCodecMode::Expand, false);
  return sink.Data();
}

// The stream of plain; the run's checksum and size are checked against the input and output.
inline ByteVector CompressBytes(uint8_t method, const ByteVector& plain,
                                int32_t reserve = kNoCompressLimit) {
  TRecordingStream source(plain);
  TRecordingStream sink;
  TCodecSettings settings;
  settings.CompressReserve = reserve;
  uint32_t checksum = 0;
  const int32_t size = RunCodec(settings, sink, source, static_cast<int32_t>(plain.size()), 0,
                                method, checksum, TCodecMode::Compress, false);
  if (checksum != ByteSum(plain) || static_cast<std::size_t>(size) != sink.Data().size()) {
    throw std::runtime_error("compression run reported a wrong checksum or size");
  }
  return sink.Data();
}

}  // namespace vo::test
