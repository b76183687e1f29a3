#pragma once
// The frame rate of a video stream as its time stamps show it: the most
// common step between the decode times (else presentation times) of
// successive PES packets in the first megabytes of the input. For cut files
// that count frames when the stream header does not say (H.264).
#include <cstdint>

namespace kelvor {

class InputView;

// Opens the input view's file, reads up to `maxBytes`, closes it again.
// 0 when no step was seen.
double ProbeFramesPerSecond(InputView& input, std::uint32_t videoPid, std::uint64_t maxBytes);

}  // namespace kelvor
