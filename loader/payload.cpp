#include "loader/payload.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <vector>

#include "core/exception.h"
#include "core/file_stream.h"
#include "core/little_endian.h"
#include "core/messages.h"

namespace vo {

namespace {

// The stamp: the marker, then the payload offset that attaching a payload writes over the
// "X". This is the only copy of the marker in the program, so the first one a scan of the
// program's file meets is this stamp. Volatile reads keep the compiler from folding the
// marker into code, which would put a second copy of it into the image.
[[gnu::used]] const volatile uint8_t kPayloadStamp[kPayloadStampSize] = {
    'V', 'o', 'I', '_', 'S', 'I', 'Z', 'E', kUnpatchedStampByte, 0, 0, 0};

// The stamp value whose bytes begin at offset: nothing when the search must end without a
// payload (unpatched, cut short by the end of the file, or not inside the file), else the
// value, where 0 lets the search go on.
std::optional<int32_t> StampValueAt(TStream& file, int64_t offset, int64_t fileSize) {
  uint8_t value[4] = {};
  file.SetPosition(offset);
  if (file.Read(value, sizeof value) != sizeof value || value[0] == kUnpatchedStampByte) {
    return std::nullopt;
  }
  const auto v = LoadLittleEndian<int32_t>(value);
  if (v >= fileSize) return std::nullopt;
  return v;
}

}  // namespace

std::array<uint8_t, kPayloadMarkerSize> PayloadMarker() {
  std::array<uint8_t, kPayloadMarkerSize> marker{};
  for (std::size_t i = 0; i < marker.size(); ++i) marker[i] = kPayloadStamp[i];
  return marker;
}

int32_t FindPayloadOffset(const std::string& Path) {
  TFileStream file(Path, kOpenReadShared);
  return FindPayloadOffset(file);
}

int32_t FindPayloadOffset(TStream& file) {
  const int64_t fileSize = file.Size();
  file.SetPosition(0);
  std::vector<uint8_t> window(kPayloadWindowSize);
  int64_t base = 0;
  std::size_t n = file.Read(window.data(), window.size());
  // Windows overlap by the marker's length, so a marker across a window's end lies whole in
  // the next one; a read of no more than that holds only bytes searched already.
  while (n > kPayloadMarkerSize) {
    const uint8_t* end = window.data() + n;
    if (const uint8_t* found = FindPayloadMarker(window.data(), end); found != end) {
      const int64_t valueOffset = base + (found - window.data()) + kPayloadMarkerSize;
      const std::optional<int32_t> value = StampValueAt(file, valueOffset, fileSize);
      if (!value) return 0;
      if (*value != 0) return *value;
    }
    base += static_cast<int64_t>(n - kPayloadMarkerSize);
    file.SetPosition(base);
    n = file.Read(window.data(), window.size());
  }
  return 0;
}

uint32_t ReadPayloadLength(TStream& Loader, int32_t PayloadOffset) {
  Loader.SetPosition(PayloadOffset);
  uint8_t length[kPayloadLengthSize] = {};
  Loader.Read(length, sizeof length);
  return LoadLittleEndian<uint32_t>(length);
}

uint32_t CopyPayload(const std::string& LoaderPath, int32_t PayloadOffset,
                     const std::string& TempArchivePath) {
  TFileStream source(LoaderPath, kOpenReadShared);
  // Declared after the source, so that it is closed first on every way out.
  TFileStream target(TempArchivePath, kCreate);
  const uint32_t PayloadLength = ReadPayloadLength(source, PayloadOffset);
  // A length that cannot be a signed size cannot be in the file either.
  if (PayloadLength > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    throw EReadError(kMsgStreamRead);
  }
  // A length of 0 copies the whole source from its start.
  target.CopyFrom(source, PayloadLength);
  target.Close();
  source.Close();
  return PayloadLength;
}

}  // namespace vo
