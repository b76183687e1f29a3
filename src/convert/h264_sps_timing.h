#pragma once
// The timing an H.264 sequence parameter set declares in its video
// usability information: num_units_in_tick, time_scale and
// fixed_frame_rate_flag. The decode-time line takes the frame duration from
// it; everything before it in the parameter set is read only to get there.
#include <cstdint>
#include <optional>
#include <span>

namespace kelvor {

struct SpsTiming {
  std::uint32_t numUnitsInTick = 0;
  std::uint32_t timeScale = 0;
  bool fixedFrameRate = false;

  // One frame (two ticks) in 90 kHz ticks, rounded down; 0 when the values
  // give no frame rate between 1 and 300 frames a second.
  std::uint32_t FrameTicks() const;
};

// `rbsp` is the parameter set after its NAL header byte, emulation
// prevention bytes included; bytes after its end do no harm. Nothing when
// the set carries no timing, is cut short before it, or makes no sense.
std::optional<SpsTiming> ReadSpsTiming(std::span<const std::uint8_t> rbsp);

}  // namespace kelvor
