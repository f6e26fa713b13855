// Attaching a payload to a loader stub: the one writer of the stamp and the payload block, for
// voarc and the tests. A file of its own, so that the loader, which only reads them, never
// links it.
#include <array>
#include <cstdint>

#include "core/little_endian.h"
#include "loader/payload.h"

namespace vo {

namespace {

// The largest file offset the loader takes: a signed 32-bit value.
constexpr int64_t kMaxSetupSize = 0x7FFFFFFF;
constexpr uint8_t kPadding = 0;

}  // namespace

std::optional<TStubStamp> FindStubStamp(std::span<const uint8_t> image) {
  const uint8_t* end = image.data() + image.size();
  const uint8_t* marker = FindPayloadMarker(image.data(), end);
  if (end - marker < static_cast<std::ptrdiff_t>(kPayloadStampSize)) return std::nullopt;
  const auto valueAt = static_cast<std::size_t>(marker - image.data()) + kPayloadMarkerSize;
  return TStubStamp{valueAt, image[valueAt] != kUnpatchedStampByte};
}

int64_t AttachPayload(TStream& out, std::span<const uint8_t> image,
                      const std::function<void(TStream& out)>& writeArchive) {
  const auto stamp = FindStubStamp(image);
  if (!stamp || stamp->Patched)
    throw EPayloadWrite("Loader image holds no unpatched payload stamp");
  // The locator refuses an offset whose low byte reads as the unpatched mark.
  const bool padded = (image.size() & 0xFF) == kUnpatchedStampByte;
  const auto offset = static_cast<int64_t>(image.size()) + (padded ? 1 : 0);
  if (offset > kMaxSetupSize) throw EPayloadWrite("Loader image of 2 GB or more");
  std::array<uint8_t, sizeof(int32_t)> value{};
  StoreLittleEndian(value.data(), static_cast<int32_t>(offset));

  const int64_t base = out.Position();
  out.WriteBuffer(image.data(), stamp->ValueAt);
  out.WriteBuffer(value.data(), value.size());
  const std::size_t rest = stamp->ValueAt + value.size();
  out.WriteBuffer(image.data() + rest, image.size() - rest);
  if (padded) out.WriteBuffer(&kPadding, 1);
  std::array<uint8_t, kPayloadLengthSize> length{};
  out.WriteBuffer(length.data(), length.size());
  writeArchive(out);
  const int64_t end = out.Position();
  const int64_t archiveSize = end - (base + offset + static_cast<int64_t>(length.size()));
  if (archiveSize > kMaxSetupSize - offset)
    throw EPayloadWrite("Payload too large: the setup would reach 2 GB");
  StoreLittleEndian(length.data(), static_cast<uint32_t>(archiveSize));
  out.SetPosition(base + offset);
  out.WriteBuffer(length.data(), length.size());
  out.SetPosition(end);
  return offset;
}

}  // namespace vo
