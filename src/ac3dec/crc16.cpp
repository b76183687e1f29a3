#include "ac3dec/crc16.h"

namespace kelvor {

std::uint16_t ac3_crc16(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0;
  for (const std::uint8_t b : bytes) crc = ((crc & 0xFFu) << 8) ^ ac3_crc_table[(crc >> 8) ^ b];
  return static_cast<std::uint16_t>(crc);
}

}  // namespace kelvor
