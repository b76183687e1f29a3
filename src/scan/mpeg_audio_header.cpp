#include "scan/mpeg_audio_header.h"

#include "scan/mpeg_audio_tables.h"

namespace kelvor {
namespace {

AudioHeader ReadAdts(std::span<const std::uint8_t> b) {
  AudioHeader h;
  const std::uint32_t sf = (b[2] >> 2) & 0x0F;
  const std::uint32_t length = ((b[3] & 0x03u) << 11) | (std::uint32_t{b[4]} << 3) | (b[5] >> 5);
  if (kAdtsSamplingHz[sf] == 0 || length < 7) return h;
  h.kind = AudioHeaderKind::Aac;
  h.frameBytes = length;
  h.sampleRate = kAdtsSamplingHz[sf];
  h.samplesPerFrame = 1024;
  // profile, sampling index, channel configuration
  h.streamKey = (std::uint32_t{b[1]} << 16) | ((b[2] & 0xFDu) << 8) | (b[3] & 0xC0u);
  return h;
}

}  // namespace

AudioHeader ReadAudioHeader(std::span<const std::uint8_t> b) {
  AudioHeader h;
  if (b.size() < kAudioHeaderBytes || b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return h;
  if ((b[1] & 0xF6) == 0xF0) return ReadAdts(b);
  const std::uint32_t version = (b[1] >> 3) & 3;  // 0 "2.5", 1 reserved, 2 ID 0, 3 ID 1
  const std::uint32_t layerBits = (b[1] >> 1) & 3;
  const std::uint32_t bitrateIndex = b[2] >> 4;
  const std::uint32_t samplingIndex = (b[2] >> 2) & 3;
  const std::uint32_t padding = (b[2] >> 1) & 1;
  if (version == 1 || layerBits == 0 || bitrateIndex == 15 || samplingIndex == 3 || (b[3] & 3) == 2) return h;
  h.layer = 4 - layerBits;
  h.bitrateIndex = bitrateIndex;
  h.samplingIndex = samplingIndex;
  h.mode = b[3] >> 6;
  const std::uint32_t divisor = version == 3 ? 1 : version == 2 ? 2 : 4;
  h.sampleRate = kMpeg1SamplingHz[samplingIndex] / divisor;
  const bool lsf = version != 3;
  h.samplesPerFrame = h.layer == 1 ? 384 : (h.layer == 3 && lsf) ? 576 : 1152;
  h.streamKey = (std::uint32_t{b[1] & 0xFEu} << 8) | (samplingIndex << 2);

  std::uint32_t kbps = 0;
  if (!lsf) {
    kbps = (h.layer == 1 ? kLayer1BitrateKbps : h.layer == 2 ? kLayer2BitrateKbps : kLayer3BitrateKbps)[bitrateIndex];
  } else {
    kbps = (h.layer == 1 ? kLsfLayer1BitrateKbps : kLsfLayer23BitrateKbps)[bitrateIndex];
  }
  if (h.layer == 1) {
    h.frameBytes = (12 * kbps * 1000 / h.sampleRate + padding) * 4;
  } else {
    h.frameBytes = h.samplesPerFrame / 8 * kbps * 1000 / h.sampleRate + padding;
  }
  if (bitrateIndex == 0) {
    h.kind = AudioHeaderKind::FreeFormat;
    h.frameBytes = 0;
  } else if (version == 0) {
    h.kind = AudioHeaderKind::Mpeg25;
  } else if (lsf) {
    h.kind = AudioHeaderKind::LowSamplingRate;
  } else {
    h.kind = h.layer == 3 ? AudioHeaderKind::Mpeg1Layer3 : AudioHeaderKind::Mpeg1Layer12;
  }
  return h;
}

std::uint32_t Mpeg1FrameBytes(std::uint8_t byte1, std::uint8_t byte2) {
  const std::uint8_t bytes[kAudioHeaderBytes] = {0xFF, byte1, byte2, 0, 0, 0};
  const AudioHeader h = ReadAudioHeader(bytes);
  return h.kind == AudioHeaderKind::Mpeg1Layer12 ? h.frameBytes : 0;
}

MpegFrameDuration Mpeg1FrameDuration(std::uint8_t byte1, std::uint8_t byte2) {
  const std::uint8_t bytes[kAudioHeaderBytes] = {0xFF, byte1, byte2, 0, 0, 0};
  const AudioHeader h = ReadAudioHeader(bytes);
  if (h.kind != AudioHeaderKind::Mpeg1Layer12) return {};
  return {h.samplesPerFrame, h.sampleRate};
}

}  // namespace kelvor
