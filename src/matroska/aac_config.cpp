#include "matroska/aac_config.h"

#include <array>

#include "matroska/rbsp_reader.h"

namespace kelvor::mkv {

namespace {

// samplingFrequencyIndex 0..12.
constexpr std::array<std::uint32_t, 13> kSampleRates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                        22050, 16000, 12000, 11025, 8000,  7350};
// channelConfiguration 0..7 (0: stated elsewhere).
constexpr std::array<std::uint32_t, 8> kChannels = {0, 1, 2, 3, 4, 5, 6, 8};

std::uint32_t ObjectType(RbspReader& r) {
  const std::uint32_t t = r.Bits(5);
  return t == 31 ? 32 + r.Bits(6) : t;
}

std::uint32_t LatmValue(RbspReader& r) {
  const std::uint32_t bytes = r.Bits(2) + 1;
  return r.Bits(8 * bytes);
}

// Reads an AudioSpecificConfig up to the end of its GASpecificConfig; false
// for what this reader does not take apart.
bool SkipAsc(RbspReader& r) {
  std::uint32_t type = ObjectType(r);
  if (r.Bits(4) == 0xF) r.Skip(24);
  const std::uint32_t channelConfig = r.Bits(4);
  if (type == 5 || type == 29) {  // explicit SBR (and PS): the core follows
    if (r.Bits(4) == 0xF) r.Skip(24);
    type = ObjectType(r);
  }
  switch (type) {
    case 1: case 2: case 3: case 4: case 6: case 7:
      break;
    default:
      return false;  // error-resilient and other types
  }
  if (channelConfig == 0) return false;  // a programme config element follows
  r.Skip(1);                             // frameLengthFlag
  if (r.Flag()) r.Skip(14);              // dependsOnCoreCoder: coreCoderDelay
  const bool extension = r.Flag();
  if (type == 6) r.Skip(3);  // layerNr
  if (extension) return false;
  return !r.exhausted();
}

}  // namespace

std::optional<AdtsHeader> ReadAdtsHeader(std::span<const std::uint8_t> frame) {
  if (frame.size() < 7 || frame[0] != 0xFF || (frame[1] & 0xF6) != 0xF0) return std::nullopt;
  AdtsHeader h;
  h.objectType = (frame[2] >> 6) + 1u;
  h.frequencyIndex = (frame[2] >> 2) & 0x0F;
  h.channelConfig = ((frame[2] & 0x01u) << 2) | (frame[3] >> 6);
  h.headerSize = (frame[1] & 0x01) != 0 ? 7 : 9;
  h.frameSize = ((frame[3] & 0x03u) << 11) | (static_cast<std::uint32_t>(frame[4]) << 3) | (frame[5] >> 5);
  h.rawBlocks = (frame[6] & 0x03u) + 1;
  if (h.frequencyIndex >= kSampleRates.size() || h.frameSize < h.headerSize) return std::nullopt;
  return h;
}

std::size_t AscFromAdts(const AdtsHeader& header, std::span<std::uint8_t> out) {
  if (out.size() < 2 || header.channelConfig == 0) return 0;
  const std::uint32_t bits = (header.objectType << 11) | (header.frequencyIndex << 7) | (header.channelConfig << 3);
  out[0] = static_cast<std::uint8_t>(bits >> 8);
  out[1] = static_cast<std::uint8_t>(bits);
  return 2;
}

std::size_t AscFromLatm(std::span<const std::uint8_t> loasFrame, std::span<std::uint8_t> out) {
  RbspReader r(loasFrame);
  if (r.Bits(11) != 0x2B7) return 0;
  r.Skip(13);          // audioMuxLengthBytes
  if (r.Flag()) return 0;  // useSameStreamMux: the configuration came earlier
  const bool version1 = r.Flag();
  if (version1) {
    if (r.Flag()) return 0;  // audioMuxVersionA
    (void)LatmValue(r);      // taraBufferFullness
  }
  r.Skip(1);  // allStreamsSameTimeFraming
  r.Skip(6);  // numSubFrames
  if (r.Bits(4) != 0 || r.Bits(3) != 0) return 0;  // one programme, one layer
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  if (version1) {
    const std::uint32_t length = LatmValue(r);
    start = r.used();
    end = start + length;
  } else {
    start = r.used();
    if (!SkipAsc(r)) return 0;
    end = r.used();
  }
  if (r.exhausted() || end <= start || end > loasFrame.size() * 8ull) return 0;
  // Copy the configuration's bits, which need not start on a byte.
  const std::size_t size = static_cast<std::size_t>((end - start + 7) / 8);
  if (size > out.size()) return 0;
  RbspReader copy(loasFrame);
  copy.Skip(static_cast<unsigned>(start));
  std::uint64_t left = end - start;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned n = left >= 8 ? 8 : static_cast<unsigned>(left);
    out[i] = static_cast<std::uint8_t>(copy.Bits(n) << (8 - n));
    left -= n;
  }
  return size;
}

std::size_t LatmRawFrame(std::span<const std::uint8_t> loasFrame, LatmState& state, std::span<std::uint8_t> out) {
  RbspReader r(loasFrame);
  if (r.Bits(11) != 0x2B7) return 0;
  const std::uint32_t length = r.Bits(13);
  if (3 + std::size_t{length} > loasFrame.size()) return 0;
  if (!r.Flag()) {  // a stream mux configuration
    LatmState next;
    next.version1 = r.Flag();
    if (next.version1) {
      if (r.Flag()) return 0;
      (void)LatmValue(r);
    }
    if (!r.Flag()) return 0;  // allStreamsSameTimeFraming
    if (r.Bits(6) != 0 || r.Bits(4) != 0 || r.Bits(3) != 0) return 0;  // one subframe, programme, layer
    if (next.version1) {
      r.Skip(LatmValue(r));
    } else if (!SkipAsc(r)) {
      return 0;
    }
    next.frameLengthType = r.Bits(3);
    if (next.frameLengthType != 0) return 0;
    r.Skip(8);  // latmBufferFullness
    next.otherData = r.Flag();
    if (next.otherData) {
      if (next.version1) {
        (void)LatmValue(r);
      } else {
        while (r.Flag() && !r.exhausted()) r.Skip(8);
        r.Skip(8);
      }
    }
    if (r.Flag()) r.Skip(8);  // crcCheckSum
    next.known = true;
    state = next;
  }
  if (!state.known) return 0;
  std::size_t size = 0;
  for (std::uint32_t b = 255; b == 255 && !r.exhausted();) {
    b = r.Bits(8);
    size += b;
  }
  if (r.exhausted() || size == 0 || size > out.size() || r.used() + 8 * size > 8ull * (3 + length)) return 0;
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(r.Bits(8));
  return size;
}

std::uint32_t AacSampleRate(std::uint32_t index) {
  return index < kSampleRates.size() ? kSampleRates[index] : 0;
}

std::uint32_t CoreSampleRate(std::span<const std::uint8_t> asc) {
  RbspReader r(asc);
  ObjectType(r);
  const std::uint32_t index = r.Bits(4);
  const std::uint32_t rate = index == 0xF ? r.Bits(24) : AacSampleRate(index);
  return r.exhausted() ? 0 : rate;
}

AscSummary SummariseAsc(std::span<const std::uint8_t> asc) {
  RbspReader r(asc);
  AscSummary s;
  const std::uint32_t type = ObjectType(r);
  const std::uint32_t index = r.Bits(4);
  s.sampleRate = index == 0xF ? r.Bits(24) : (index < kSampleRates.size() ? kSampleRates[index] : 0);
  const std::uint32_t config = r.Bits(4);
  s.channels = config < kChannels.size() ? kChannels[config] : 0;
  if (type == 5 || type == 29) {  // the output rate is the extension's
    const std::uint32_t ext = r.Bits(4);
    s.sampleRate = ext == 0xF ? r.Bits(24) : (ext < kSampleRates.size() ? kSampleRates[ext] : s.sampleRate);
  }
  if (r.exhausted()) return {};
  return s;
}

}  // namespace kelvor::mkv
