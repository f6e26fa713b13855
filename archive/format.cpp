#include "archive/format.h"

#include <algorithm>
#include <cassert>

#include "core/exception.h"
#include "core/little_endian.h"
#include "core/messages.h"

namespace vo {

namespace {

// Field offsets of the archive header.
constexpr std::size_t kAtMethodID = 5;
constexpr std::size_t kAtTotalExpandedSize = 8;
constexpr std::size_t kAtArchiveType = 12;
constexpr std::size_t kAtReserved = 13;
constexpr std::size_t kAtArchiveLock = 17;

// Field offsets of the entry header.
constexpr std::size_t kAtNameLength = 0;
constexpr std::size_t kAtFileDateTime = 2;
constexpr std::size_t kAtAttributes = 6;
constexpr std::size_t kAtExpandedSize = 8;
constexpr std::size_t kAtCompressedSize = 12;
constexpr std::size_t kAtMethod = 16;
constexpr std::size_t kAtChecksum = 17;
constexpr std::size_t kAtLockFlag = 21;

// The years a DOS date holds: seven bits counted from 1980.
constexpr int kDosFirstYear = 1980;
constexpr int kDosLastYear = kDosFirstYear + 127;

}  // namespace

uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  if (year < kDosFirstYear) return DosDateTime(kDosFirstYear, 1, 1, 0, 0, 0);
  if (year > kDosLastYear) return DosDateTime(kDosLastYear, 12, 31, 23, 59, 58);
  const auto date = static_cast<uint32_t>(((year - kDosFirstYear) << 9) | (month << 5) | day);
  const auto time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
  return date << 16 | time;
}

std::optional<std::tm> DosDateTimeFields(uint32_t fileDateTime) {
  const unsigned time = fileDateTime & 0xFFFF;
  const unsigned date = fileDateTime >> 16;
  std::tm fields{};
  fields.tm_year = static_cast<int>(kDosFirstYear + (date >> 9)) - 1900;
  fields.tm_mon = static_cast<int>((date >> 5) & 15) - 1;
  fields.tm_mday = static_cast<int>(date & 31);
  fields.tm_hour = static_cast<int>(time >> 11);
  fields.tm_min = static_cast<int>((time >> 5) & 63);
  fields.tm_sec = static_cast<int>((time & 31) * 2);
  fields.tm_isdst = -1;
  if (fields.tm_mon < 0 || fields.tm_mon > 11 || fields.tm_mday < 1 || fields.tm_hour > 23 ||
      fields.tm_min > 59 || fields.tm_sec > 59)
    return std::nullopt;
  const int year = fields.tm_year + 1900;
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (fields.tm_mday > kDaysInMonth[fields.tm_mon] + (fields.tm_mon == 1 && leap ? 1 : 0))
    return std::nullopt;
  return fields;
}

TArchiveHeader MakeDefaultHeader(int32_t Key, const std::string& methodID) {
  TArchiveHeader header;
  for (std::size_t i = 0; i < kMethodIDLength && i < methodID.size(); ++i)
    header.MethodID[i] = methodID[i];
  header.ArchiveLock = Key > 0 ? kLockScrambled : kLockNone;
  return header;
}

TArchiveHeader DecodeArchiveHeader(const std::array<uint8_t, kArchiveHeaderSize>& bytes) {
  TArchiveHeader header;
  std::copy_n(bytes.begin(), header.Signature.size(), header.Signature.begin());
  std::copy_n(bytes.begin() + kAtMethodID, kMethodIDLength, header.MethodID.begin());
  header.TotalExpandedSize = LoadLittleEndian<int32_t>(&bytes[kAtTotalExpandedSize]);
  header.ArchiveType = bytes[kAtArchiveType];
  header.Reserved = LoadLittleEndian<uint32_t>(&bytes[kAtReserved]);
  header.ArchiveLock = LoadLittleEndian<int32_t>(&bytes[kAtArchiveLock]);
  return header;
}

std::array<uint8_t, kArchiveHeaderSize> EncodeArchiveHeader(const TArchiveHeader& header) {
  std::array<uint8_t, kArchiveHeaderSize> bytes{};
  std::copy(header.Signature.begin(), header.Signature.end(), bytes.begin());
  std::copy(header.MethodID.begin(), header.MethodID.end(), bytes.begin() + kAtMethodID);
  StoreLittleEndian(&bytes[kAtTotalExpandedSize], header.TotalExpandedSize);
  bytes[kAtArchiveType] = header.ArchiveType;
  StoreLittleEndian(&bytes[kAtReserved], header.Reserved);
  StoreLittleEndian(&bytes[kAtArchiveLock], header.ArchiveLock);
  return bytes;
}

TEntryHeader DecodeEntryHeader(const std::array<uint8_t, kEntryHeaderSize>& bytes) {
  TEntryHeader header;
  header.NameLength = LoadLittleEndian<int16_t>(&bytes[kAtNameLength]);
  header.FileDateTime = LoadLittleEndian<uint32_t>(&bytes[kAtFileDateTime]);
  header.Attributes = LoadLittleEndian<uint16_t>(&bytes[kAtAttributes]);
  header.ExpandedSize = LoadLittleEndian<int32_t>(&bytes[kAtExpandedSize]);
  header.CompressedSize = LoadLittleEndian<int32_t>(&bytes[kAtCompressedSize]);
  header.Method = bytes[kAtMethod];
  header.Checksum = LoadLittleEndian<uint32_t>(&bytes[kAtChecksum]);
  header.LockFlag = LoadLittleEndian<int32_t>(&bytes[kAtLockFlag]);
  return header;
}

std::array<uint8_t, kEntryHeaderSize> EncodeEntryHeader(const TEntryHeader& header) {
  std::array<uint8_t, kEntryHeaderSize> bytes{};
  StoreLittleEndian(&bytes[kAtNameLength], header.NameLength);
  StoreLittleEndian(&bytes[kAtFileDateTime], header.FileDateTime);
  StoreLittleEndian(&bytes[kAtAttributes], header.Attributes);
  StoreLittleEndian(&bytes[kAtExpandedSize], header.ExpandedSize);
  StoreLittleEndian(&bytes[kAtCompressedSize], header.CompressedSize);
  bytes[kAtMethod] = header.Method;
  StoreLittleEndian(&bytes[kAtChecksum], header.Checksum);
  StoreLittleEndian(&bytes[kAtLockFlag], header.LockFlag);
  return bytes;
}

bool ReadArchiveHeader(TStream& archive, TArchiveHeader& header, std::string& methodID,
                       int32_t Key) {
  methodID.resize(kMethodIDLength);
  if (archive.Size() - archive.Position() < static_cast<int64_t>(kArchiveHeaderSize)) {
    header = MakeDefaultHeader(Key, methodID);
    return false;
  }
  std::array<uint8_t, kArchiveHeaderSize> bytes{};
  archive.Read(bytes.data(), bytes.size());  // counted above: the bytes are there
  header = DecodeArchiveHeader(bytes);
  if (header.Signature != kArchiveSignature) throw EInvalidHeader(kMsgInvalidHeader);
  if (header.ArchiveType != kArchiveTypeMulti) throw EInvalidHeaderArchiveType(kMsgArchiveType);
  methodID.assign(header.MethodID.begin(), header.MethodID.end());
  return true;
}

bool ReadEntryHeader(TStream& archive, TEntryHeader& header, std::string& name) {
  std::array<uint8_t, kEntryHeaderSize> bytes{};
  if (archive.Read(bytes.data(), bytes.size()) != bytes.size()) return false;
  header = DecodeEntryHeader(bytes);
  if (header.NameLength < 0) return false;
  name.assign(static_cast<std::size_t>(header.NameLength), '\0');
  return archive.Read(name.data(), name.size()) == name.size();
}

void WriteArchiveHeader(TStream& archive, const TArchiveHeader& header) {
  const auto bytes = EncodeArchiveHeader(header);
  archive.WriteBuffer(bytes.data(), bytes.size());
}

void WriteEntryHeader(TStream& archive, const TEntryHeader& header, const std::string& name) {
  assert(header.NameLength >= 0 && static_cast<std::size_t>(header.NameLength) == name.size());
  const auto bytes = EncodeEntryHeader(header);
  archive.WriteBuffer(bytes.data(), bytes.size());
  archive.WriteBuffer(name.data(), name.size());
}

}  // namespace vo
