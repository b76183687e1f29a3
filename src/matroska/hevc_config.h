#pragma once
// The HEVC decoder configuration record a Matroska HEVC track carries as
// its codec private data, built from the stream's own video, sequence and
// picture parameter sets, and the picture size the sequence parameter set
// gives.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "matroska/video_format.h"

namespace kelvor::mkv {

struct HevcSps {
  std::uint8_t profileSpace = 0;
  bool tier = false;
  std::uint8_t profile = 0;
  std::uint32_t compatibility = 0;
  std::uint64_t constraints = 0;  // the 48 bits after the compatibility flags
  std::uint8_t level = 0;
  std::uint32_t subLayers = 1;
  bool temporalIdNesting = false;
  std::uint32_t chromaFormat = 1;
  std::uint32_t bitDepthLuma = 8;
  std::uint32_t bitDepthChroma = 8;
  VideoFormat format;  // size only: the pixel aspect ratio is not read
};

// `nal` is a whole SPS NAL unit (two header bytes first). Nothing when it is
// not one or is cut short.
std::optional<HevcSps> ReadHevcSps(std::span<const std::uint8_t> nal);

// Writes the record holding one VPS, one SPS and one PPS (whole NAL units)
// to `out`; returns its size, or 0 when the SPS cannot be read or `out` is
// too small.
std::size_t BuildHevcConfig(std::span<const std::uint8_t> vps, std::span<const std::uint8_t> sps,
                            std::span<const std::uint8_t> pps, std::span<std::uint8_t> out);

}  // namespace kelvor::mkv
