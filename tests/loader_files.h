// Scratch folders and loader files for the loader's tests.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/little_endian.h"
#include "core/memory_stream.h"
#include "loader/payload.h"

namespace vo::test {

namespace fs = std::filesystem;

// A fresh folder, removed with everything in it when the test ends.
class TScratchFolder {
 public:
  explicit TScratchFolder(const std::string& name)
      : Root(fs::temp_directory_path() /
             ("vo-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(Next()))) {
    fs::remove_all(Root);
    fs::create_directories(Root);
  }
  ~TScratchFolder() {
    std::error_code ignored;
    fs::remove_all(Root, ignored);
  }
  std::string Path(const std::string& name) const { return (Root / name).string(); }

  fs::path Root;

 private:
  static int Next() {
    static int n = 0;
    return ++n;
  }
};

inline void WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

inline std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void PutLittleEndian32(std::vector<uint8_t>& data, std::size_t at, uint32_t value) {
  StoreLittleEndian(data.data() + at, value);
}

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
