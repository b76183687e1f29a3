#pragma once
// Frame lengths and durations of the MPEG-1 Layer I and II frames that the
// conversion carries, and the exact output time of a run of them.
#include <cstdint>

#include "convert/gap_fill.h"
#include "scan/mpeg_audio_header.h"

namespace kelvor {

inline constexpr std::uint32_t kMaxMpegAudioFrameBytes = kMaxMpeg1FrameBytes;

// The duration of one frame as a rational number of 90 kHz ticks.
inline FrameDuration MpegFrameTicks(std::uint8_t byte1, std::uint8_t byte2) {
  const MpegFrameDuration d = Mpeg1FrameDuration(byte1, byte2);
  return {std::uint64_t{d.samples} * 90000, d.sampleRate};
}

// Hands out the whole ticks of consecutive frames so that their sum stays
// exact over any length (44.1 kHz: 2351.02... ticks a frame): the fraction
// left over is carried, never rounded away.
class FrameTickCarry {
 public:
  void Reset() { carry_ = 0; }
  std::uint32_t Next(const FrameDuration& d) {
    const std::uint64_t total = d.scaledTicks + carry_;
    carry_ = total % d.rate;
    return static_cast<std::uint32_t>(total / d.rate);
  }

 private:
  std::uint64_t carry_ = 0;  // in 1/rate of a tick
};

}  // namespace kelvor
