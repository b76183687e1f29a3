#pragma once
// Finds the first MPEG-1 Layer I or II frame header of an audio track, byte
// by byte across TS packet payloads, so a header split over packets is found.
#include <cstdint>
#include <span>

namespace kelvor {

struct AudioProbeResult {
  std::uint32_t layer = 0;          // 1 or 2
  std::uint32_t bitrateIndex = 0;   // 1..14
  std::uint32_t samplingIndex = 0;  // 0..3
  std::uint32_t mode = 0;           // 0 stereo, 1 joint, 2 dual, 3 mono
};

class MpegAudioProbe {
 public:
  void Reset() { state_ = 0; }
  // True once a whole four-byte header has been seen; `result` holds it.
  bool probe(std::span<const std::uint8_t> payload, AudioProbeResult& result);

 private:
  std::uint32_t state_ = 0;  // 0 hunt 0xFF, 1..3 expect header byte 1..3
  std::uint8_t byte1_ = 0;
  std::uint8_t byte2_ = 0;
};

}  // namespace kelvor
