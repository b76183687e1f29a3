#include "scan/mpeg_audio_probe.h"

namespace kelvor {

bool MpegAudioProbe::probe(std::span<const std::uint8_t> payload, AudioProbeResult& result) {
  for (const std::uint8_t byte : payload) {
    switch (state_) {
      case 0:
        if (byte == 0xFF) state_ = 1;
        break;
      case 1:
        // The rest of the syncword, ID 1 (MPEG-1) and layer I or II. Layer III,
        // the half-rate extension and the reserved layer are not taken.
        if ((byte & 0xFC) == 0xFC) {
          byte1_ = byte;
          state_ = 2;
        } else if (byte != 0xFF) {
          state_ = 0;
        }
        break;
      case 2:
        if (byte == 0xFF) {
          state_ = 1;
        } else if ((byte >> 4) == 0 || (byte >> 4) == 15) {
          state_ = 0;  // free format or forbidden bit rate
        } else {
          byte2_ = byte;
          state_ = 3;
        }
        break;
      default:
        result.layer = 4 - ((byte1_ >> 1) & 3);
        result.bitrateIndex = byte2_ >> 4;
        result.samplingIndex = (byte2_ >> 2) & 3;
        result.mode = byte >> 6;
        state_ = 0;
        return true;
    }
  }
  return false;
}

}  // namespace kelvor
