#pragma once
// Fields of the DTS core frame header: the sampling frequency code (SFREQ)
// and the channel arrangement code (AMODE). 0 marks an invalid code.
#include <array>
#include <cstdint>

namespace kelvor {

inline constexpr std::array<std::uint32_t, 16> kDtsSampleRates = {
    0, 8000, 16000, 32000, 0, 0, 11025, 22050, 44100, 0, 0, 12000, 24000, 48000, 0, 0};

// Full-band channels of AMODE 0..15 (mono, dual mono, stereo, sum and
// difference, LT/RT, then 3 to 8 channels); higher codes are user defined.
inline constexpr std::array<std::uint8_t, 16> kDtsChannels = {1, 2, 2, 2, 2, 3, 3, 4, 4, 5, 6, 6, 6, 7, 8, 8};

}  // namespace kelvor
