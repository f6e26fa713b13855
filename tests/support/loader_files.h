// Loader files for the loader's tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/memory_stream.h"
#include "loader/payload.h"
#include "tests/support/bytes.h"
#include "tests/support/scratch.h"

namespace vo::test {

// Writes the 8 marker bytes, and the stamp value when one is given, at offset at.
inline void PutStamp(std::vector<uint8_t>& data, std::size_t at, const uint8_t* value = nullptr) {
  static constexpr char kMarker[] = "VoI_SIZE";
  std::copy(kMarker, kMarker + 8, data.begin() + static_cast<std::ptrdiff_t>(at));
  if (value != nullptr)
    std::copy(value, value + 4, data.begin() + static_cast<std::ptrdiff_t>(at + 8));
}

// Bytes that hold no marker.
inline std::vector<uint8_t> Filler(std::size_t n, uint8_t seed = 1) {
  std::vector<uint8_t> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>((i * 31 + seed) % 61);
  return v;
}

// A loader image of imageSize bytes with an unpatched stamp at stampAt.
inline std::vector<uint8_t> StubImage(std::size_t imageSize, std::size_t stampAt) {
  std::vector<uint8_t> image = Filler(imageSize);
  static constexpr uint8_t kUnpatched[] = {kUnpatchedStampByte, 0, 0, 0};
  PutStamp(image, stampAt, kUnpatched);
  return image;
}

// A loader file as AttachPayload makes it: an image of imageSize bytes with the stamp at
// stampAt, then the block (length, archive), then trailing bytes. The block begins at
// imageSize, or one byte later for a size whose low byte is the unpatched mark.
inline std::vector<uint8_t> LoaderWithPayload(std::size_t imageSize, std::size_t stampAt,
                                              const std::vector<uint8_t>& archive,
                                              std::size_t trailing = 0) {
  TMemoryStream file;
  AttachPayload(file, StubImage(imageSize, stampAt),
                [&](TStream& out) { out.WriteBuffer(archive.data(), archive.size()); });
  const std::vector<uint8_t> tail = Filler(trailing, 7);
  file.Data.insert(file.Data.end(), tail.begin(), tail.end());
  return file.Data;
}

}  // namespace vo::test
