// Archives built byte by byte for the reader's tests, independently of the library's encoder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/bytes.h"

namespace vo::test {

inline TBytes ArchiveHeaderBytes(const std::string& methodID, int32_t total, uint8_t type = 1,
                                 int32_t lock = 0) {
  TBytes out;
  out.reserve(21);
  for (char c : std::string("QELT\x1A") + methodID) out.push_back(static_cast<uint8_t>(c));
  PutLE(out, static_cast<uint32_t>(total), 4);
  out.push_back(type);
  PutLE(out, 0, 4);
  PutLE(out, static_cast<uint32_t>(lock), 4);
  return out;
}

struct TRawEntry {
  std::string Name;
  TBytes Data;           // stored as it is: scramble beforehand for a scrambled entry
  int32_t ExpandedSize;  // as recorded in the header
  uint8_t Method = 0;
  uint32_t Checksum = 0;
  int32_t LockFlag = 0;
  std::optional<int32_t> CompressedSize = std::nullopt;  // the size of Data when not given
  std::optional<int32_t> NameLength = std::nullopt;      // the size of Name when not given
};

inline TBytes EntryBytes(const TRawEntry& e) {
  TBytes out;
  PutLE(out, static_cast<uint32_t>(e.NameLength.value_or(static_cast<int32_t>(e.Name.size()))), 2);
  PutLE(out, 0x2b79753c, 4);
  PutLE(out, 0x20, 2);
  PutLE(out, static_cast<uint32_t>(e.ExpandedSize), 4);
  PutLE(out, static_cast<uint32_t>(e.CompressedSize.value_or(static_cast<int32_t>(e.Data.size()))),
        4);
  out.push_back(e.Method);
  PutLE(out, e.Checksum, 4);
  PutLE(out, static_cast<uint32_t>(e.LockFlag), 4);
  out.insert(out.end(), e.Name.begin(), e.Name.end());
  out.insert(out.end(), e.Data.begin(), e.Data.end());
  return out;
}

// An archive of the given entries whose total is the sum of their ExpandedSize values.
inline TBytes ArchiveBytes(const std::vector<TRawEntry>& entries,
                           const std::string& methodID = "LH5") {
  int32_t total = 0;
  for (const TRawEntry& e : entries) total += e.ExpandedSize;
  TBytes out = ArchiveHeaderBytes(methodID, total);
  for (const TRawEntry& e : entries) {
    const TBytes bytes = EntryBytes(e);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return out;
}

inline TBytes Scrambled(TBytes data, int32_t key) {
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] ^= static_cast<uint8_t>(static_cast<uint32_t>(key) >> (8 * (i % 4)));
  return data;
}

}  // namespace vo::test
