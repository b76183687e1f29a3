#include "scan/mpeg_audio_probe.h"

#include <algorithm>

namespace kelvor {

const char* NotCarriedReason(AudioHeaderKind kind) {
  switch (kind) {
    case AudioHeaderKind::Mpeg1Layer3: return "MPEG-1 Layer III audio is not supported";
    case AudioHeaderKind::LowSamplingRate: return "MPEG-2 audio at 16/22.05/24 kHz is not supported";
    case AudioHeaderKind::Mpeg25: return "MPEG-2.5 audio (8/11.025/12 kHz) is not supported";
    case AudioHeaderKind::FreeFormat: return "free-format MPEG audio is not supported";
    case AudioHeaderKind::Aac: return "AAC audio (ADTS) is not supported";
    case AudioHeaderKind::None: return "no audio frame header found";
    case AudioHeaderKind::Mpeg1Layer12: break;
  }
  return "";
}

bool MpegAudioProbe::probe(std::span<const std::uint8_t> payload, AudioProbeResult& result) {
  for (const std::uint8_t byte : payload) {
    std::copy(window_.begin() + 1, window_.end(), window_.begin());
    window_.back() = byte;
    ++position_;
    if (filled_ < window_.size()) {
      ++filled_;
      if (filled_ < window_.size()) continue;
    }
    if (step(result)) return true;
  }
  return false;
}

// The window holds the six bytes from position_ - 6 on.
bool MpegAudioProbe::step(AudioProbeResult& result) {
  const std::uint64_t here = position_ - window_.size();
  if (inARow_ > 0) {
    if (here < expectAt_) return false;  // inside the frame being followed
    const AudioHeader next = ReadAudioHeader(window_);
    if (next.kind == first_.kind && next.streamKey == first_.streamKey && next.frameBytes > 0) {
      expectAt_ = here + next.frameBytes;
      if (++inARow_ < kHeadersInARow) return false;
      result.kind = first_.kind;
      result.layer = first_.layer;
      result.bitrateIndex = first_.bitrateIndex;
      result.samplingIndex = first_.samplingIndex;
      result.mode = first_.mode;
      inARow_ = 0;
      return true;
    }
    inARow_ = 0;  // a false start: hunt on from here
  }
  const AudioHeader h = ReadAudioHeader(window_);
  if (h.kind == AudioHeaderKind::None) return false;
  if (h.kind == AudioHeaderKind::FreeFormat) {
    // The length is not in the header; a run of alike headers tells.
    freeFormatCount_ = h.streamKey == freeFormatKey_ ? freeFormatCount_ + 1 : 1;
    freeFormatKey_ = h.streamKey;
    if (freeFormatCount_ < kFreeFormatHeaders) return false;
    result = AudioProbeResult{};
    result.kind = AudioHeaderKind::FreeFormat;
    return true;
  }
  first_ = h;
  inARow_ = 1;
  expectAt_ = here + h.frameBytes;
  return false;
}

}  // namespace kelvor
