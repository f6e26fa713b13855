// Little-endian integers in byte buffers: every file format of the system stores them so.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace vo {

template <typename T>
constexpr T LoadLittleEndian(const uint8_t* bytes) {
  static_assert(std::is_integral_v<T> && sizeof(T) <= 4);
  if (!std::is_constant_evaluated() && std::endian::native == std::endian::little) {
    T value;  // one load: the loader's size counts every byte of code
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }
  uint32_t value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= uint32_t{bytes[i]} << (8 * i);
  return static_cast<T>(value);
}

template <typename T>
constexpr void StoreLittleEndian(uint8_t* bytes, T field) {
  static_assert(std::is_integral_v<T> && sizeof(T) <= 4);
  if (!std::is_constant_evaluated() && std::endian::native == std::endian::little) {
    std::memcpy(bytes, &field, sizeof(T));
    return;
  }
  const auto value = static_cast<uint32_t>(field);
  for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace vo
