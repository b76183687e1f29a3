#pragma once
// The track entries of a Matroska output: the video when the run writes it,
// then each audio output by slot, from the scan's track records (codec,
// language, PMT descriptors) and the run's choices (which tracks, AC-3 kept
// or converted to MPEG audio). The video and the first audio track are the
// default ones.
#include <array>
#include <cstdint>

#include "matroska/matroska_muxer.h"
#include "mux/run_settings.h"
#include "scan/track_table.h"

namespace kelvor {

struct MatroskaTrackPlan {
  std::uint32_t count = 0;
  std::array<mkv::TrackSetup, mkv::kMaxTracks> setups{};
  // The index of each output's entry: kNoTrack when it has none.
  std::uint32_t videoTrack = mkv::kNoTrack;
  std::array<std::uint32_t, kMaxAudioOutputs> trackOfSlot{};
};

void PlanMatroskaTracks(const TrackTable& table, const RunSettings& run, bool withVideo, MatroskaTrackPlan& plan);

}  // namespace kelvor
