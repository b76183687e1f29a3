#pragma once
// MPEG audio header facts (ISO/IEC 11172-3, ISO/IEC 13818-3) and the ADTS
// sampling rates (ISO/IEC 13818-7).
#include <array>
#include <cstdint>
#include <string_view>

namespace kelvor {

// bitrate_index -> kbit/s; index 0 (free format) and 15 (forbidden) give 0.
inline constexpr std::array<std::uint16_t, 16> kLayer1BitrateKbps{
    0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0};
inline constexpr std::array<std::uint16_t, 16> kLayer2BitrateKbps{
    0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
inline constexpr std::array<std::uint16_t, 16> kLayer3BitrateKbps{
    0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
// The low sampling frequencies (ID 0): Layer I, and Layers II and III.
inline constexpr std::array<std::uint16_t, 16> kLsfLayer1BitrateKbps{
    0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0};
inline constexpr std::array<std::uint16_t, 16> kLsfLayer23BitrateKbps{
    0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};

// sampling_frequency -> Hz for ID 1; ID 0 halves them (and the unofficial
// "2.5" extension quarters them). Index 3 is reserved.
inline constexpr std::array<std::uint32_t, 4> kMpeg1SamplingHz{44100, 48000, 32000, 0};

// sampling_frequency -> whole kHz (44.1 kHz is shown as 44).
inline constexpr std::array<std::uint8_t, 4> kSamplingKHz{44, 48, 32, 0};

// ADTS sampling_frequency_index -> Hz; 13..15 are reserved.
inline constexpr std::array<std::uint32_t, 16> kAdtsSamplingHz{
    96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350, 0, 0, 0};

inline constexpr std::array<std::string_view, 4> kModeNames{"Stereo", "Joint Stereo", "Dual Channel",
                                                            "Mono"};

}  // namespace kelvor
