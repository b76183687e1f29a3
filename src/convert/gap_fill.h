#pragma once
// How many frames go out for an audio frame that comes late. After a loss the
// next frame's time stamp lies a whole gap ahead of where the track's output
// has got to; one frame per missing frame closes the gap at once, so that
// sound is back in step with the picture at the first frame after the loss
// rather than seconds later. The assemblers fill the gap with the frame
// written before it and write the late frame last, at its own time, so that
// what it holds is not heard early.
//
// A time stamp is believed for more than one repeat only when it lies near the
// video's output time: a damaged time stamp could otherwise insert seconds of
// repeated sound. Such a frame gets the single repeat that any late frame gets.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "convert/stream_timing.h"

namespace kelvor {

// Audio may run this far ahead of or behind the picture in a multiplex.
inline constexpr std::int32_t kPlausibleAudioVideoSkew = 2 * 90000;
// No gap is filled beyond this; a longer one ends an MPEG-2 conversion anyway.
inline constexpr std::uint32_t kMaxGapFillTicks = 10 * 90000;

// A frame's duration in 90 kHz ticks, exactly: scaledTicks / rate (a frame
// of 1152 samples at 44.1 kHz lasts 1152 * 90000 / 44100 ticks).
struct FrameDuration {
  std::uint64_t scaledTicks = 0;
  std::uint32_t rate = 1;

  // delta (ticks) is at least half a frame.
  bool HalfOrMore(std::int32_t delta) const {
    return 2 * std::int64_t{delta} * rate >= static_cast<std::int64_t>(scaledTicks);
  }
  // delta (ticks) is more than half a frame early.
  bool EarlyByMoreThanHalf(std::int32_t delta) const {
    return 2 * std::int64_t{delta} * rate < -static_cast<std::int64_t>(scaledTicks);
  }
  // Whole ticks of `frames` frames, rounded down.
  std::uint32_t TicksOf(std::uint64_t frames) const {
    return static_cast<std::uint32_t>(frames * scaledTicks / rate);
  }
};

// `delta`: the frame's time minus the track's output time (positive = late);
// `frameTime`: the frame's time relative to the start of the output.
inline std::uint32_t LateFrameWrites(std::int32_t delta, const FrameDuration& frame, std::uint32_t frameTime,
                                     const StreamTiming& timing) {
  if (!frame.HalfOrMore(delta)) return 1;
  // Missing frames, rounded to the nearest whole frame.
  const auto scaledDelta = static_cast<std::uint64_t>(delta) * frame.rate;
  std::uint64_t missing = (2 * scaledDelta + frame.scaledTicks) / (2 * frame.scaledTicks);
  const bool nearVideo =
      timing.videoTime != 0 && std::abs(static_cast<std::int64_t>(TimeDifference(frameTime, timing.videoTime))) <=
                                   kPlausibleAudioVideoSkew;
  if (!nearVideo) missing = 1;
  const std::uint64_t cap = std::uint64_t{kMaxGapFillTicks} * frame.rate / frame.scaledTicks;
  return 1 + static_cast<std::uint32_t>(std::min(missing, cap));
}

// The same for a frame of a whole number of ticks.
inline std::uint32_t LateFrameWrites(std::int32_t delta, std::uint32_t frameTicks, std::uint32_t frameTime,
                                     const StreamTiming& timing) {
  return LateFrameWrites(delta, FrameDuration{frameTicks, 1}, frameTime, timing);
}

}  // namespace kelvor
