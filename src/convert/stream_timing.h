#pragma once
// The time stamps shared by the conversion driver, the stream handlers and
// the multiplexer during one run. Times are the low 32 bits of 90 kHz PTS
// values; differences are taken modulo 2^32 and read as signed.
#include <array>
#include <cstdint>

#include "scan/track_table.h"

namespace kelvor {

class CutPlan;
class DropTracker;

struct StreamTiming {
  // The first audio PES with a PTS has been seen (a run without audio: the
  // first video PES with one).
  bool startFound = false;
  std::uint32_t startBase = 0;  // that PTS minus 9000: the origin of output time

  std::array<bool, kMaxAudioTracks> audioStarted{};  // by track table index

  std::uint32_t videoTime = 0;  // output video time, kept by the video handler

  // Where the handlers note what they do at a discontinuity (may be none).
  DropTracker* drops = nullptr;
  // The cuts the user asked for (always set by the engine; may hold none).
  CutPlan* cuts = nullptr;

  // Nothing but the tracker and the cuts survives from one run to the next.
  void Reset() {
    DropTracker* const keepDrops = drops;
    CutPlan* const keepCuts = cuts;
    *this = StreamTiming{};
    drops = keepDrops;
    cuts = keepCuts;
  }
};

// a - b taken modulo 2^32 and read as a signed number.
constexpr std::int32_t TimeDifference(std::uint32_t a, std::uint32_t b) {
  return static_cast<std::int32_t>(a - b);
}

}  // namespace kelvor
