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

// Tables for kBytes bytes per step: entry x of table n is the register
// after byte x and then n zero bytes, from a zero register (table 0 is the
// one above). The CRC is linear, so the bytes of a step combine by XOR.
template <std::size_t kBytes>
constexpr std::array<std::array<std::uint32_t, 256>, kBytes> make_ac3_crc_tables() {
  std::array<std::array<std::uint32_t, 256>, kBytes> t{};
  t[0] = make_ac3_crc_table();
  for (std::size_t n = 1; n < kBytes; ++n)
    for (std::size_t x = 0; x < 256; ++x) {
      const std::uint32_t prev = t[n - 1][x];
      t[n][x] = ((prev & 0xFFu) << 8) ^ t[0][prev >> 8];
    }
  return t;
}

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
