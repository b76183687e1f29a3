#pragma once
// MPEG-1 Layer II frame lengths at 48 kHz without padding (ISO/IEC 11172-3):
// 144 * bit rate / 48 000 bytes, that is 3 bytes per kbit/s.
#include <array>
#include <cstdint>

namespace kelvor {

// Indexed by bitrate_index; 0 (free format) and 15 (forbidden) are refused.
inline constexpr std::array<std::uint16_t, 16> kLayer2FrameBytes48k{
    0, 96, 144, 168, 192, 240, 288, 336, 384, 480, 576, 672, 768, 960, 1152, 0};

inline constexpr std::uint32_t kMaxMpegAudioFrameBytes = 1152;

}  // namespace kelvor
