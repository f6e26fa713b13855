// The payload that travels behind the loader's image: finding the stamp that records where it
// begins, copying the archive it holds into a file of its own, and, for the tools that build
// setups, attaching a payload to a loader stub.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "core/exception.h"
#include "core/stream.h"

namespace vo {

inline constexpr std::size_t kPayloadMarkerSize = 8;
inline constexpr std::size_t kPayloadStampSize = 12;
// The payload block: its length, then the archive.
inline constexpr std::size_t kPayloadLengthSize = 4;
inline constexpr std::size_t kPayloadWindowSize = 16384;
// The value byte an unpatched stamp holds first.
inline constexpr uint8_t kUnpatchedStampByte = 'X';

// The marker, read at run time from the one stamp in this program's constant data.
std::array<uint8_t, kPayloadMarkerSize> PayloadMarker();

// The first payload marker in [begin, end), or end when there is none.
inline const uint8_t* FindPayloadMarker(const uint8_t* begin, const uint8_t* end) {
  const auto marker = PayloadMarker();
  return std::search(begin, end, marker.begin(), marker.end());
}

// The payload's file offset from the stamp in the file at Path, or 0 when there is none; a
// negative stamp value comes back unchanged. Raises EFOpenError.
int32_t FindPayloadOffset(const std::string& Path);
// The same search in a file already open, from its start; the stream's position is left
// anywhere.
int32_t FindPayloadOffset(TStream& File);

// The PayloadLength of the block at PayloadOffset: a plain read, where bytes missing at the end
// of the file count as 0. A length of 0 stands for the whole loader file.
uint32_t ReadPayloadLength(TStream& Loader, int32_t PayloadOffset);

// Copies the archive of the payload block at PayloadOffset into TempArchivePath (created or
// truncated) and returns the block's PayloadLength. A PayloadLength of 0 copies the whole
// loader file. Raises EFOpenError, EFCreateError, EReadError or EWriteError; the temporary
// file keeps the whole chunks copied before a failure.
uint32_t CopyPayload(const std::string& LoaderPath, int32_t PayloadOffset,
                     const std::string& TempArchivePath);

// Attaching a payload (loader/payload_attach.cpp; the loader itself never links it).

using EPayloadWrite = ENamed<"EPayloadWrite">;

// The stamp of a loader image: the first marker in it, with the four value bytes behind it.
struct TStubStamp {
  std::size_t ValueAt = 0;  // where the stamp's value begins
  bool Patched = false;     // the value is no longer the unpatched mark
};
std::optional<TStubStamp> FindStubStamp(std::span<const uint8_t> image);

// Writes image, a loader stub whose stamp is unpatched, to out from its position on, followed
// by a payload block holding what writeArchive writes to out: the stamp gets the block's
// offset, and the block's length is filled in once the archive is written. The locator reads
// an offset whose low byte is the unpatched mark as no payload at all, so an image of such a
// size gets one byte of padding. Returns the block's offset from the image's start. Raises
// EPayloadWrite when image has no unpatched stamp or the setup would reach 2 GB.
int64_t AttachPayload(TStream& out, std::span<const uint8_t> image,
                      const std::function<void(TStream& out)>& writeArchive);

}  // namespace vo
