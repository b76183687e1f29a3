#pragma once
// CRC-16 of AC-3 and E-AC-3 syncframes: generator x^16 + x^15 + x^2 + 1,
// most significant bit first, register starting at 0.
#include <array>
#include <cstdint>
#include <span>

namespace kelvor {

constexpr std::array<std::uint32_t, 256> make_ac3_crc_table() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t crc = i << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x8005u) : (crc << 1);
    table[i] = crc & 0xFFFFu;
  }
  return table;
}

inline constexpr std::array<std::uint32_t, 256> ac3_crc_table = make_ac3_crc_table();

// Remainder over the bytes; 0 when the range ends with its intact CRC word.
std::uint16_t ac3_crc16(std::span<const std::uint8_t> bytes);

}  // namespace kelvor
