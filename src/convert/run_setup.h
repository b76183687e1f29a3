#pragma once
// Fixes a run's settings from the scan result and the user's choice.
#include "mux/run_settings.h"
#include "scan/track_table.h"

namespace kelvor {

// Which tracks are output and how their streams are numbered; `convert`
// is the "Convert AC3 to MPEG audio" choice, which counts only when the
// chosen tracks include an AC-3/E-AC-3 track; `keepEac3` writes E-AC-3
// tracks unchanged unless they are converted. Everything else is reset.
void ConfigureRun(RunSettings& run, const TrackTable& tracks, bool convert, bool keepEac3 = false);

}  // namespace kelvor
