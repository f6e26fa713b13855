// The payload that travels behind the loader's image: finding the stamp that records where it
// begins, and copying the archive it holds into a file of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vo {

inline constexpr std::size_t kPayloadMarkerSize = 8;
inline constexpr std::size_t kPayloadStampSize = 12;
inline constexpr std::size_t kPayloadWindowSize = 16384;
// The value byte an unpatched stamp holds first.
inline constexpr uint8_t kUnpatchedStampByte = 'X';

// The marker, read at run time from the one stamp in this program's constant data.
std::array<uint8_t, kPayloadMarkerSize> PayloadMarker();

// The payload's file offset from the stamp in the file at Path, or 0 when there is none; a
// negative stamp value comes back unchanged. Raises EFOpenError.
int32_t FindPayloadOffset(const std::string& Path);

// Copies the archive of the payload block at PayloadOffset into TempArchivePath (created or
// truncated) and returns the block's PayloadLength. A PayloadLength of 0 copies the whole
// loader file. Raises EFOpenError, EFCreateError, EReadError or EWriteError; the temporary
// file keeps the whole chunks copied before a failure.
uint32_t CopyPayload(const std::string& LoaderPath, int32_t PayloadOffset,
                     const std::string& TempArchivePath);

}  // namespace vo
