#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quarn {

// CRC-16 as LHA and ARC keep their entries' data: reflected polynomial 0xA001, from 0.
inline constexpr std::array<uint16_t, 256> kCrc16Table = [] {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < table.size(); ++i) {
    uint16_t crc = static_cast<uint16_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1) != 0 ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    table[i] = crc;
  }
  return table;
}();

inline uint16_t UpdateCrc16(uint16_t crc, const uint8_t* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    crc = static_cast<uint16_t>((crc >> 8) ^ kCrc16Table[(crc ^ bytes[i]) & 0xFF]);
  }
  return crc;
}

}  // namespace quarn
