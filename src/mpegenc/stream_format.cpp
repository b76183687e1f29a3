#include "mpegenc/stream_format.h"

#include <algorithm>

namespace kelvor::mpegenc {
namespace {

int KbpsIndex(int kbps) {
  const auto* at = std::find(kLayer2Kbps.begin(), kLayer2Kbps.end(), kbps);
  return at == kLayer2Kbps.end() ? 0 : static_cast<int>(at - kLayer2Kbps.begin()) + 1;
}

bool AllowedForChannels(int kbps, int channels) {
  if (channels == 1) return kbps <= 192;
  return kbps == 64 || kbps >= 96;
}

}  // namespace

std::string CheckStreamFormat(const StreamFormat& f) {
  if (f.sampleRate != 32000 && f.sampleRate != 44100 && f.sampleRate != 48000) {
    return "a sample rate of " + std::to_string(f.sampleRate) + " Hz cannot be encoded; 32000, 44100 and 48000 Hz can";
  }
  if (f.channels != 1 && f.channels != 2) {
    return std::to_string(f.channels) + " channels cannot be encoded; mono and stereo can";
  }
  if (KbpsIndex(f.kbps) == 0) {
    return "no Layer II bit rate is " + std::to_string(f.kbps) +
           " kbit/s; the rates are 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320 and 384";
  }
  if (!AllowedForChannels(f.kbps, f.channels)) {
    return std::to_string(f.kbps) + " kbit/s is not a Layer II rate for " + (f.channels == 1 ? "mono" : "stereo") +
           (f.channels == 1 ? "; mono takes 32 to 192" : "; stereo takes 64 and 96 to 384");
  }
  return {};
}

const AllocationTable& AllocationTableOf(const StreamFormat& f) {
  return AllocationTableFor(f.sampleRate, f.kbps / f.channels);
}

std::array<std::uint8_t, 4> FrameHeader(const StreamFormat& f, bool padded) {
  const int rateIndex = f.sampleRate == 44100 ? 0 : f.sampleRate == 48000 ? 1 : 2;
  const int mode = f.channels == 1 ? 3 : 0;  // single channel, or stereo
  // Sync, MPEG-1, Layer II, no CRC; then bit rate, sample rate, padding;
  // then mode, not copyrighted, a copy, no emphasis.
  return {0xFF, 0xFD, static_cast<std::uint8_t>((KbpsIndex(f.kbps) << 4) | (rateIndex << 2) | (padded ? 2 : 0)),
          static_cast<std::uint8_t>(mode << 6)};
}

FrameLengths::FrameLengths(const StreamFormat& f)
    : base_(144000u * static_cast<std::uint32_t>(f.kbps) / static_cast<std::uint32_t>(f.sampleRate)),
      step_(144000u * static_cast<std::uint32_t>(f.kbps) % static_cast<std::uint32_t>(f.sampleRate)),
      rate_(static_cast<std::uint32_t>(f.sampleRate)) {}

FrameLengths::Frame FrameLengths::next() {
  remainder_ += step_;
  if (remainder_ >= rate_) {
    remainder_ -= rate_;
    return {base_ + 1, true};
  }
  return {base_, false};
}

}  // namespace kelvor::mpegenc
