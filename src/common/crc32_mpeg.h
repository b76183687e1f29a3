#pragma once
// CRC-32 of MPEG-2 systems sections: polynomial 0x04C11DB7, register preset
// to 0xFFFFFFFF, most significant bit first, no reflection, no final XOR.
// Over a section that includes its CRC_32 field the result is 0 when intact.
#include <cstdint>
#include <span>

namespace kelvor {

std::uint32_t Crc32Mpeg(std::span<const std::uint8_t> bytes);

}  // namespace kelvor
