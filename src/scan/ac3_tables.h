#pragma once
// AC-3 header facts used by the probe (ATSC A/52).
#include <array>
#include <cstdint>

namespace kelvor {

// Frame sizes at 48 kHz in 16-bit words, indexed by frmsizecod / 2.
inline constexpr std::array<std::uint16_t, 19> kAc3FrameSizeWords48k{
    64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280};

// Full-bandwidth channels per acmod; dual mono (1+1) counts as two.
inline constexpr std::array<std::uint8_t, 8> kChannelsPerAcmod{2, 1, 2, 3, 3, 4, 4, 5};

}  // namespace kelvor
