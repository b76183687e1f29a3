#pragma once
#include <cstdint>
#include <span>

#include "scan/track_table.h"

namespace kelvor {

// Reads one whole TS_program_map_section: whether the video is H.264
// (stream_type 0x1B) and the audio languages. False for any malformed or
// CRC-failing section. A section rejected while walking its streams keeps
// the language entries added before the fault.
bool parsePmt(std::span<const std::uint8_t> section, TrackTable& tracks);

}  // namespace kelvor
