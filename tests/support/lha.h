// Archives of the LHA family for the peer tests: one member behind a level-0 header, which the
// independent LHA tools read.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/bytes.h"

namespace vo::test {

// The LHA family's CRC-16: reflected polynomial 0xA001, starting from 0.
inline uint16_t LhaCrc16(const TBytes& data) {
  constexpr uint16_t kPolynomial = 0xA001;
  uint16_t crc = 0;
  for (uint8_t b : data) {
    crc ^= b;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ kPolynomial)
                           : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

// One member of the method ("-lh5-", "-lh1-") behind a level-0 header, then the end mark.
inline TBytes LhaLevel0Archive(const std::string& method, const std::string& name,
                               const TBytes& packed, const TBytes& plain, uint16_t crc,
                               uint32_t dosTime) {
  TBytes header = Bytes(method);
  PutLE(header, static_cast<uint32_t>(packed.size()), 4);
  PutLE(header, static_cast<uint32_t>(plain.size()), 4);
  PutLE(header, dosTime, 4);
  header.push_back(0x20);  // archive attribute
  header.push_back(0);     // header level
  header.push_back(static_cast<uint8_t>(name.size()));
  header.insert(header.end(), name.begin(), name.end());
  PutLE(header, crc, 2);
  uint8_t sum = 0;
  for (uint8_t b : header) sum = static_cast<uint8_t>(sum + b);
  TBytes archive = header;
  archive.insert(archive.begin(), {static_cast<uint8_t>(header.size()), sum});
  archive.insert(archive.end(), packed.begin(), packed.end());
  archive.push_back(0);
  return archive;
}

}  // namespace vo::test
