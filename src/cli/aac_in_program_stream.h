#pragma once
// AAC tracks go into TS and M2TS only: for other output (MPG, DVD, MKV)
// each one is named as not converted (the rest converts), and an --audio choice of one
// is refused.
#include <string>

#include "scan/scan_pass.h"
#include "scan/track_table.h"

namespace kelvor::cli {

// The AAC tracks of `tracks` join `summary`'s streams not carried, each
// with the reason. False when the chosen track is one of them (the line
// saying so is printed).
[[nodiscard]] bool LeaveOutAacTracks(const TrackTable& tracks, ScanSummary& summary);

}  // namespace kelvor::cli
