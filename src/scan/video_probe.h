#pragma once
// Finds, in the video elementary stream, the MPEG-2 bit rate (sequence
// header), a decodable H.264 start (an IDR slice after an access unit
// delimiter, parameter set or SEI, or many slices without any IDR) or an
// HEVC sequence parameter set and random-access picture.
#include <array>
#include <cstdint>
#include <span>

#include "common/codec.h"

namespace kelvor {

// IDR bookkeeping that the scan leaves behind for the conversion's video
// handler, which starts from these values instead of resetting them.
struct H264IdrState {
  bool idrSeen = false;
  std::uint32_t sliceCount = 0;
};

// Bit rate assumed for H.264, in units of 400 bit/s (7.2 Mbit/s).
inline constexpr std::uint32_t kH264AssumedBitRate = 18000;

class VideoProbe {
 public:
  explicit VideoProbe(H264IdrState& idr) : idr_(idr) {}

  // Start of a scan: the start-code search, the slice counter and both flags.
  void Reset();

  // Consumes the whole payload; true if a bit rate was found anywhere in it
  // (then `bitRate` holds the last one found).
  bool probe(std::span<const std::uint8_t> payload, Codec codec, std::uint32_t& bitRate);
  // MPEG-2: the picture size and frame_rate_code of the last sequence
  // header found (0 before); HEVC: the size of the last sequence parameter set.
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  std::uint32_t frameRateCode() const { return frameRateCode_; }

 private:
  void ProbeHevc(std::uint8_t first, std::uint32_t& bitRate, bool& found);
  // The picture size of the HEVC sequence parameter set held in sps_.
  void ReadHevcSize();

  H264IdrState& idr_;
  bool spsSeen_ = false;
  bool randomAccessSeen_ = false;
  // An HEVC sequence parameter set as it passes, from its NAL header on:
  // its start is enough for the picture size.
  std::array<std::uint8_t, 192> sps_{};
  std::uint32_t spsLength_ = 0;
  std::uint32_t state_ = 0;  // 0..2 start-code prefix, 3 code byte, 4 sequence header
  std::array<std::uint8_t, 6> store_{};
  std::uint32_t stored_ = 0;
  bool delimiterSeen_ = false;
  std::uint32_t width_ = 0;
  std::uint32_t height_ = 0;
  std::uint32_t frameRateCode_ = 0;
};

}  // namespace kelvor
