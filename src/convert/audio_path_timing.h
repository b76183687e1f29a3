#pragma once
// How much time an AC-3 or E-AC-3 syncframe carries: AC-3 frames always hold
// six audio blocks of 256 samples, E-AC-3 frames one, two, three or six
// (numblkscod). At 48 kHz a block lasts 480 ticks of the 90 kHz clock.
#include <cstdint>
#include <span>

#include "mpegenc/mpeg_audio_encoder.h"

namespace kelvor {

inline constexpr std::uint32_t kBlockTicks = 480;

// A decoder plays the MPEG audio encoder's output this much after its input
// (the two filter banks): converted tracks start their time stamps that much
// earlier, so that sound stays with the picture.
inline constexpr std::uint32_t kMpegAudioDelayTicks =
    (static_cast<std::uint32_t>(mpegenc::kCodecDelay) * 90000 + 24000) / 48000;

// `frame` starts with the sync word and has at least its first five bytes.
inline std::uint32_t SyncframeBlocks(std::span<const std::uint8_t> frame, bool eac3) {
  if (!eac3 || frame.size() < 5) return 6;
  constexpr std::uint32_t kBlocks[4] = {1, 2, 3, 6};
  return kBlocks[(frame[4] >> 4) & 3];
}

}  // namespace kelvor
