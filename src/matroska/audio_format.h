#pragma once
// Sampling rate and channel count of an audio track's entry, read from the
// first frame when the caller did not state them.
#include <cstdint>
#include <span>

namespace kelvor::mkv {

struct AudioFormat {
  std::uint32_t sampleRate = 0;  // 0: unknown
  std::uint32_t channels = 0;
};

// An MPEG audio frame header (any layer, MPEG-1, -2 or 2.5).
AudioFormat ReadMpegAudioFormat(std::span<const std::uint8_t> frame);
// An AC-3 or E-AC-3 sync frame.
AudioFormat ReadAc3Format(std::span<const std::uint8_t> frame);

}  // namespace kelvor::mkv
