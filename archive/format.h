// The archive layout: a 21-byte archive header, then entries back to back, each a 25-byte entry
// header, the name and the stored data. Every integer is little-endian; fields are encoded one
// by one, never by copying a struct over the file bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "core/stream.h"

namespace vo {

inline constexpr std::array<uint8_t, 5> kArchiveSignature = {'Q', 'E', 'L', 'T', 0x1A};
inline constexpr std::size_t kArchiveHeaderSize = 21;
inline constexpr std::size_t kEntryHeaderSize = 25;
inline constexpr std::size_t kMethodIDLength = 3;
inline constexpr uint8_t kArchiveTypeMulti = 1;  // caMulti: an archive of several entries
// LockFlag and ArchiveLock: 0 (or negative) not locked, 2 locked and scrambled with the key;
// other positive values are locked without scrambling.
inline constexpr int32_t kLockNone = 0;
inline constexpr int32_t kLockScrambled = 2;
inline constexpr int32_t kMaxNameLength = 32767;

struct TArchiveHeader {
  std::array<uint8_t, 5> Signature = kArchiveSignature;
  std::array<char, kMethodIDLength> MethodID = {};
  int32_t TotalExpandedSize = 0;
  uint8_t ArchiveType = kArchiveTypeMulti;
  uint32_t Reserved = 0;
  int32_t ArchiveLock = kLockNone;
};

struct TEntryHeader {
  int16_t NameLength = 0;
  uint32_t FileDateTime = 0;  // DOS time in the low 16 bits, DOS date in the high 16 bits
  uint16_t Attributes = 0;
  int32_t ExpandedSize = 0;
  int32_t CompressedSize = 0;
  uint8_t Method = 0;
  uint32_t Checksum = 0;
  int32_t LockFlag = kLockNone;
};

// 1980-01-01 00:00:00, the earliest DOS date and time.
inline constexpr uint32_t kDosEpoch = 0x00210000;

// FileDateTime: a DOS date and time, in local time, in two-second steps. Dates before 1980
// become 1980-01-01 00:00:00, those after 2107 the last moment of 2107.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);
// The local date and time fields of a FileDateTime (tm_isdst -1), or nothing when they name no
// day and time of the calendar (a month 0, a 30 February, an hour 24).
std::optional<std::tm> DosDateTimeFields(uint32_t fileDateTime);

// The header of an archive too short to hold one: no entry is ever found behind it. MethodID
// takes the first three characters of methodID as they are (NULs where it is shorter).
TArchiveHeader MakeDefaultHeader(int32_t Key, const std::string& methodID);

// Reads the archive header at the stream's position into header and its MethodID into
// methodID (three characters). With fewer than 21 bytes left it reads nothing, fills the
// default header and returns false. Otherwise it checks the signature (EInvalidHeader) and the
// archive type (EInvalidHeaderArchiveType) and returns true: the MethodID still has to be
// looked up by the component, which alone knows the identifiers its handler accepts.
bool ReadArchiveHeader(TStream& archive, TArchiveHeader& header, std::string& methodID,
                       int32_t Key);

// Reads one entry header and its name; false when either is cut short. A negative NameLength
// never occurs in a sound archive and is treated as a cut-short entry: false, nothing more read.
// On true the stream stands at the first byte of the entry's data.
bool ReadEntryHeader(TStream& archive, TEntryHeader& header, std::string& name);

std::array<uint8_t, kArchiveHeaderSize> EncodeArchiveHeader(const TArchiveHeader& header);
std::array<uint8_t, kEntryHeaderSize> EncodeEntryHeader(const TEntryHeader& header);
TArchiveHeader DecodeArchiveHeader(const std::array<uint8_t, kArchiveHeaderSize>& bytes);
TEntryHeader DecodeEntryHeader(const std::array<uint8_t, kEntryHeaderSize>& bytes);

// Write in full or raise EWriteError. WriteEntryHeader writes the header, then the name; the
// header's NameLength must equal the name's length.
void WriteArchiveHeader(TStream& archive, const TArchiveHeader& header);
void WriteEntryHeader(TStream& archive, const TEntryHeader& header, const std::string& name);

}  // namespace vo
