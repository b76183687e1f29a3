#pragma once
// convert --audio: the track the user named, read as the track list shows
// it. The list labels a track "[0102]" (hex) and 'kelvor-cli scan' prints
// "0x0102"; decimal PIDs are understood too.
#include <string>
#include <vector>

#include "scan/track_table.h"

namespace kelvor::cli {

// "all" (any case); "0x0102"; "[0102]" as the label writes it; or bare
// digits, which are the listed track they name in hex or in decimal. False
// (with the reason and the listed tracks on stderr) when the text names no
// listed track, or two.
[[nodiscard]] bool SelectAudio(const std::string& text, TrackTable& tracks, const std::vector<std::string>& rows);

}  // namespace kelvor::cli
