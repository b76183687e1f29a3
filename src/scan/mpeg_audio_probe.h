#pragma once
// Finds the frame headers of a track that the PMT or its stream_id calls
// MPEG audio, byte by byte across TS packet payloads, so a header split over
// packets is found. A header is believed only when the next two follow it
// where its frame length says, with the same version, layer and sampling
// rate: AAC data or noise inside a PES then never passes for a track. What
// is found may be a kind the program cannot carry (Layer III, the low
// sampling rates, free format, ADTS AAC); the result says which.
#include <array>
#include <cstdint>
#include <span>

#include "scan/mpeg_audio_header.h"

namespace kelvor {

struct AudioProbeResult {
  AudioHeaderKind kind = AudioHeaderKind::None;  // Mpeg1Layer12 when carried
  std::uint32_t layer = 0;          // 1 or 2
  std::uint32_t bitrateIndex = 0;   // 1..14
  std::uint32_t samplingIndex = 0;  // 0..2
  std::uint32_t mode = 0;           // 0 stereo, 1 joint, 2 dual, 3 mono
  bool carried() const { return kind == AudioHeaderKind::Mpeg1Layer12; }
};

// Why a track of this kind is not offered ("" for a carried one).
const char* NotCarriedReason(AudioHeaderKind kind);

class MpegAudioProbe {
 public:
  // Headers in a row at their stated distance before one is believed.
  static constexpr std::uint32_t kHeadersInARow = 3;
  // Free-format headers of one stream seen before the track is called so.
  static constexpr std::uint32_t kFreeFormatHeaders = 8;

  void Reset() { *this = MpegAudioProbe{}; }
  // True once a stream has been recognised; `result` says what it is.
  bool probe(std::span<const std::uint8_t> payload, AudioProbeResult& result);

 private:
  bool step(AudioProbeResult& result);

  std::array<std::uint8_t, kAudioHeaderBytes> window_{};  // the last bytes seen, oldest first
  std::uint32_t filled_ = 0;
  std::uint64_t position_ = 0;   // bytes seen
  std::uint64_t expectAt_ = 0;   // where the next header must begin, while following
  std::uint32_t inARow_ = 0;     // headers followed so far; 0 while hunting
  AudioHeader first_{};
  std::uint32_t freeFormatKey_ = 0;
  std::uint32_t freeFormatCount_ = 0;
};

}  // namespace kelvor
