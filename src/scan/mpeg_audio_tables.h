#pragma once
// MPEG-1 audio header facts (ISO/IEC 11172-3).
#include <array>
#include <cstdint>
#include <string_view>

namespace kelvor {

// bitrate_index -> kbit/s; index 0 (free format) and 15 (forbidden) give 0.
inline constexpr std::array<std::uint16_t, 16> kLayer1BitrateKbps{
    0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0};
inline constexpr std::array<std::uint16_t, 16> kLayer2BitrateKbps{
    0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};

// sampling_frequency -> whole kHz (44.1 kHz is shown as 44).
inline constexpr std::array<std::uint8_t, 4> kSamplingKHz{44, 48, 32, 0};

inline constexpr std::array<std::string_view, 4> kModeNames{"Stereo", "Joint Stereo", "Dual Channel",
                                                            "Mono"};

}  // namespace kelvor
