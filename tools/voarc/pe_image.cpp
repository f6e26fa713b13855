#include "tools/voarc/pe_image.h"

#include "core/little_endian.h"

namespace vo::voarc {

namespace {

// The headers' fields, as file offsets: the DOS header's pointer to the PE signature, then the
// file header and the optional header behind the signature.
constexpr std::size_t kAtPeOffset = 0x3C;
constexpr std::size_t kFileHeaderSize = 20;
constexpr std::size_t kAtMachine = 4;              // behind the signature
constexpr std::size_t kAtOptionalHeaderSize = 20;  // behind the signature
constexpr std::size_t kAtOptionalHeader = 4 + kFileHeaderSize;
constexpr std::size_t kAtSubsystem = 68;  // in the optional header, either width
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
// The data directories follow the optional header's fixed part: 8 bytes each, the fifth is the
// certificate table.
constexpr std::size_t kAtDirectoryCountPe32 = 92;
constexpr std::size_t kAtDirectoryCountPe32Plus = 108;
constexpr uint32_t kCertificateDirectory = 4;
constexpr std::size_t kDirectorySize = 8;

constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kSubsystemGui = 2;
constexpr uint16_t kSubsystemConsole = 3;

}  // namespace

std::optional<TPeImage> ReadPeImage(std::span<const uint8_t> file) {
  const auto fits = [&](std::size_t at, std::size_t size) {
    return at <= file.size() && size <= file.size() - at;
  };
  if (!fits(0, kAtPeOffset + 4) || file[0] != 'M' || file[1] != 'Z') return std::nullopt;
  const std::size_t pe = LoadLittleEndian<uint32_t>(&file[kAtPeOffset]);
  if (!fits(pe, kAtOptionalHeader + 2) || file[pe] != 'P' || file[pe + 1] != 'E' ||
      file[pe + 2] != 0 || file[pe + 3] != 0)
    return std::nullopt;
  const std::size_t optional = pe + kAtOptionalHeader;
  const std::size_t optionalSize = LoadLittleEndian<uint16_t>(&file[pe + kAtOptionalHeaderSize]);
  if (!fits(optional, optionalSize)) return std::nullopt;
  const auto field16 = [&](std::size_t at) -> std::optional<uint16_t> {
    if (at + 2 > optionalSize) return std::nullopt;
    return LoadLittleEndian<uint16_t>(&file[optional + at]);
  };
  const auto field32 = [&](std::size_t at) -> std::optional<uint32_t> {
    if (at + 4 > optionalSize) return std::nullopt;
    return LoadLittleEndian<uint32_t>(&file[optional + at]);
  };

  TPeImage image;
  const auto magic = field16(0);
  if (!magic || (*magic != kMagicPe32 && *magic != kMagicPe32Plus)) return std::nullopt;
  image.Pe32Plus = *magic == kMagicPe32Plus;
  image.Machine = LoadLittleEndian<uint16_t>(&file[pe + kAtMachine]);
  image.Subsystem = field16(kAtSubsystem).value_or(0);
  const std::size_t countAt = image.Pe32Plus ? kAtDirectoryCountPe32Plus : kAtDirectoryCountPe32;
  const uint32_t count = field32(countAt).value_or(0);
  if (count > kCertificateDirectory) {
    const std::size_t at = countAt + 4 + kCertificateDirectory * kDirectorySize;
    image.CertificateOffset = field32(at).value_or(0);
    image.CertificateSize = field32(at + 4).value_or(0);
  }
  return image;
}

std::string TPeImage::Describe() const {
  std::string text = Pe32Plus ? "PE32+" : "PE32";
  switch (Machine) {
    case kMachineI386:
      text += " for i386";
      break;
    case kMachineAmd64:
      text += " for x86-64";
      break;
    default:
      text += " for machine " + std::to_string(Machine);
      break;
  }
  switch (Subsystem) {
    case kSubsystemGui:
      text += ", Windows GUI";
      break;
    case kSubsystemConsole:
      text += ", console";
      break;
    default:
      text += ", subsystem " + std::to_string(Subsystem);
      break;
  }
  return text;
}

}  // namespace vo::voarc
