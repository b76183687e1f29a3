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

namespace kelvor {

// Writes the CRC words of a whole syncframe so that check_syncframe accepts
// it: the E-AC-3 CRC in the last word; for AC-3, crc2 in the last word and
// crc1 at bytes 2 and 3 (which leads the range it protects, so it is solved
// for rather than computed).
void ac3_set_frame_crcs(std::span<std::uint8_t> frame, bool eac3);

}  // namespace kelvor
