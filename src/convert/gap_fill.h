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

// `delta`: the frame's time minus the track's output time (positive = late);
// `frameTime`: the frame's time relative to the start of the output.
inline std::uint32_t LateFrameWrites(std::int32_t delta, std::uint32_t frameTicks, std::uint32_t frameTime,
                                     const StreamTiming& timing) {
  const auto half = static_cast<std::int32_t>(frameTicks / 2);
  if (delta < half) return 1;
  std::uint32_t missing = (static_cast<std::uint32_t>(delta) + frameTicks / 2) / frameTicks;
  const bool nearVideo =
      timing.videoTime != 0 && std::abs(static_cast<std::int64_t>(TimeDifference(frameTime, timing.videoTime))) <=
                                   kPlausibleAudioVideoSkew;
  if (!nearVideo) missing = 1;
  return 1 + std::min(missing, kMaxGapFillTicks / frameTicks);
}

}  // namespace kelvor
