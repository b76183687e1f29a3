#pragma once
// What a DVD-Video title set accepts from the program stream it is authored
// from: the fixed mux rate, the clock step that keeps packs within it, and
// the picture sizes of MPEG-2 video, and the one audio sampling rate.
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/codec.h"

namespace kelvor {

// 10.08 Mbit/s in units of 50 bytes/s: the pack header's program_mux_rate
// and the system header's rate_bound.
inline constexpr std::uint32_t kDvdMuxRate = 25200;
// 90 kHz ticks per 2048-byte pack at that rate (146.3, rounded up), so that
// the SCRs never ask for more than the mux rate.
inline constexpr std::uint32_t kDvdPackTicks = 147;

// Picture sizes of DVD-Video MPEG-2: full and cropped width, half width, and
// the quarter-size picture, for 576 (25 Hz) and 480 (29.97 Hz) lines.
constexpr bool IsDvdPictureSize(std::uint32_t width, std::uint32_t height) {
  if (height == 576 || height == 480) return width == 720 || width == 704 || width == 352;
  return width == 352 && (height == 288 || height == 240);
}

// The sequence header's frame_rate_code a DVD needs for that many lines:
// 3 (25 Hz) for 576 and 288, 4 (29.97 Hz) for 480 and 240.
constexpr std::uint32_t DvdFrameRateCode(std::uint32_t height) {
  return height == 576 || height == 288 ? 3 : 4;
}

// Why the video cannot go on a DVD, or empty when it can. A size of 0x0
// means the scan found no sequence header; the video is then taken as it is.
inline std::string DvdVideoRefusal(Codec video, std::uint32_t width, std::uint32_t height,
                                   std::uint32_t frameRateCode) {
  if (video == Codec::H264) return "DVD output needs MPEG-2 video; this recording's video is H.264";
  if (video == Codec::Hevc) return "DVD output needs MPEG-2 video; this recording's video is HEVC";
  if (width == 0 && height == 0) return {};
  if (!IsDvdPictureSize(width, height)) {
    return "DVD output needs a DVD picture size (720, 704 or 352 x 576 or 480, or 352 x 288 "
           "or 240); this recording's video is " +
           std::to_string(width) + " x " + std::to_string(height);
  }
  if (frameRateCode != DvdFrameRateCode(height)) {
    constexpr const char* kRates[] = {"?",     "23.976", "24",    "25",   "29.97",
                                      "30",    "50",     "59.94", "60"};
    return "DVD output needs 25 frames/s for 576 or 288 lines and 29.97 for 480 or 240; this "
           "recording's video has " +
           std::string(frameRateCode < 9 ? kRates[frameRateCode] : "?") + " frames/s";
  }
  return {};
}

// Why an audio track cannot go on a DVD, or empty when it can: DVD-Video
// audio is sampled at 48 kHz only (players and authoring tools take other
// rates for gaps in the stream).
inline std::string DvdAudioRefusal(std::uint32_t pid, std::uint32_t samplingHz) {
  if (samplingHz == 48000) return {};
  const std::string rate = samplingHz % 1000 == 0 ? std::to_string(samplingHz / 1000)
                                                  : std::to_string(samplingHz / 1000) + "." +
                                                        std::to_string(samplingHz % 1000 / 100);
  char track[16];
  std::snprintf(track, sizeof track, "0x%04X", static_cast<unsigned>(pid));
  return "DVD output needs audio sampled at 48 kHz; audio track " + std::string(track) + " is sampled at " +
         rate + " kHz (choose another track with --audio)";
}

}  // namespace kelvor
