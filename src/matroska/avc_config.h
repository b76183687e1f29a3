#pragma once
// The H.264 decoder configuration record a Matroska AVC track carries as
// its codec private data, built from the stream's own sequence and picture
// parameter sets, and the picture format the sequence parameter set gives.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "matroska/video_format.h"

namespace kelvor::mkv {

struct AvcSps {
  std::uint8_t profile = 0;
  std::uint8_t compatibility = 0;  // constraint_set flags
  std::uint8_t level = 0;
  std::uint32_t chromaFormat = 1;
  std::uint32_t bitDepthLuma = 8;
  std::uint32_t bitDepthChroma = 8;
  VideoFormat format;
};

// `nal` is a whole sequence parameter set NAL unit (header byte first,
// emulation prevention bytes in place). Nothing when it is not one, is cut
// short or gives an impossible picture.
std::optional<AvcSps> ReadAvcSps(std::span<const std::uint8_t> nal);

// Writes the record for one SPS and one PPS (whole NAL units) to `out`;
// returns its size, or 0 when the SPS cannot be read or `out` is too small.
std::size_t BuildAvcConfig(std::span<const std::uint8_t> sps, std::span<const std::uint8_t> pps,
                           std::span<std::uint8_t> out);

}  // namespace kelvor::mkv
