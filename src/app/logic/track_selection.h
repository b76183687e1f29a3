#pragma once
// What a click in the track list does: records the chosen PID in the track
// table and says which commands become available.
#include "scan/track_table.h"

namespace kelvor {

struct SelectionEffect {
  bool convertEnabled = false;   // the Convert menu item and the Start button
  bool checkBoxEnabled = false;  // "Convert AC3 to MPEG audio"
};

// `row` is the selected list row, or -1 when nothing is selected. Rows
// that map to no track (the file name, "No video track", ...) disable
// conversion and leave the table's choice alone.
SelectionEffect ApplyTrackSelection(TrackTable& tracks, int row);

}  // namespace kelvor
