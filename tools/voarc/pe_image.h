// What voarc reads of a Windows image: its kind, and whether it carries a signature.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vo::voarc {

struct TPeImage {
  bool Pe32Plus = false;  // PE32+, a 64-bit image
  uint16_t Machine = 0;
  uint16_t Subsystem = 0;
  // The certificate table of an Authenticode signature: a file offset and a size, both 0 in an
  // image that is not signed.
  uint32_t CertificateOffset = 0;
  uint32_t CertificateSize = 0;

  bool Signed() const { return CertificateSize != 0; }
  std::string Describe() const;  // "PE32 for i386, Windows GUI"
};

// The image whose headers the start of a file holds; none when the file is no Windows image
// (the POSIX loader, for one) or its headers lie beyond the bytes given.
std::optional<TPeImage> ReadPeImage(std::span<const uint8_t> file);

}  // namespace vo::voarc
