#pragma once
// Standard tables of the video syntaxes: the pixel aspect ratios of H.264's
// (and HEVC's) aspect_ratio_idc, and MPEG-2's aspect_ratio_information and
// frame_rate_code.
#include <array>
#include <cstdint>

namespace kelvor::mkv {

struct Ratio {
  std::uint32_t num = 0;
  std::uint32_t den = 0;
};

// aspect_ratio_idc 0..16 (0 unspecified); 255 means the ratio follows in the
// parameter set.
inline constexpr std::array<Ratio, 17> kSampleAspectRatios = {{
    {0, 0}, {1, 1}, {12, 11}, {10, 11}, {16, 11}, {40, 33}, {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3}, {3, 2}, {2, 1},
}};
inline constexpr std::uint32_t kExtendedSar = 255;

// MPEG-2 aspect_ratio_information 1..4: 1 square pixels, else the display
// aspect ratio.
inline constexpr std::array<Ratio, 5> kMpeg2DisplayAspect = {{{0, 0}, {0, 0}, {4, 3}, {16, 9}, {221, 100}}};

// MPEG-2 frame_rate_code 1..8, frames per second as num/den.
inline constexpr std::array<Ratio, 9> kMpeg2FrameRates = {{
    {0, 0}, {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001}, {30, 1}, {50, 1}, {60000, 1001}, {60, 1},
}};

}  // namespace kelvor::mkv
