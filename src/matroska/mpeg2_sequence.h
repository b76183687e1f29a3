#pragma once
// An MPEG-2 video track's format from its sequence header (size, display
// aspect ratio, frame rate) and sequence extension (progressive_sequence).
#include <optional>
#include <span>

#include "matroska/video_format.h"

namespace kelvor::mkv {

// `unit` holds a sequence header (00 00 01 B3) somewhere; nothing when it
// holds none or a cut-short one.
std::optional<VideoFormat> ReadMpeg2Sequence(std::span<const std::uint8_t> unit);

// The sequence header and its sequence extension as they stand in `unit`
// (start codes included), which a Matroska MPEG-2 track carries as its codec
// private data; empty when `unit` holds no sequence header.
std::span<const std::uint8_t> Mpeg2SequenceBytes(std::span<const std::uint8_t> unit);

}  // namespace kelvor::mkv
