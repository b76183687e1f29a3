#pragma once
// MPEG-1 Layer II frame lengths at 48 kHz without padding (ISO/IEC 11172-3):
// 144 * bit rate / 48 000 bytes, that is 3 bytes per kbit/s.
#include <array>
#include <cstdint>

#include "scan/mpeg_audio_tables.h"

namespace kelvor {

// Indexed by bitrate_index; 0 (free format) and 15 (forbidden) give 0 and are refused.
inline constexpr std::array<std::uint16_t, 16> kLayer2FrameBytes48k = [] {
  std::array<std::uint16_t, 16> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint16_t>(3 * kLayer2BitrateKbps[i]);
  return bytes;
}();

inline constexpr std::uint32_t kMaxMpegAudioFrameBytes = 1152;

}  // namespace kelvor
