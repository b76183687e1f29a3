#include "scan/ac3_probe.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/bit_reader.h"
#include "ac3dec/tables.h"

namespace kelvor {
namespace {

// fscod 0..2, and fscod2 of E-AC-3's reduced rates (0 marks reserved).
constexpr std::array<std::uint32_t, 4> kAc3Rates = {48000, 44100, 32000, 0};
constexpr std::array<std::uint32_t, 4> kEac3ReducedRates = {24000, 22050, 16000, 0};

}  // namespace

// Validates syncframe bytes 2..5 and sets the frame size. False sends the
// probe back to hunting.
bool Ac3Probe::checkHeader() {
  const std::uint8_t b2 = frame_[2], b3 = frame_[3], b4 = frame_[4], b5 = frame_[5];
  const unsigned bsid = b5 >> 3;
  const unsigned fscod = b4 >> 6;
  if (bsid <= 8) {
    const unsigned index = (b4 & 0x3F) / 2;
    if (index >= ac3::kFrameSizeWords48.size() || fscod == 3) return false;
    // A 48 kHz frame has two words per kbit/s, a 32 kHz one three; at
    // 44.1 kHz the size is rounded down and the low bit of frmsizecod pads.
    const std::uint32_t kbps = ac3::kFrameSizeWords48[index] / 2u;
    const std::uint32_t words = fscod == 0 ? 2 * kbps : fscod == 2 ? 3 * kbps : kbps * 96000 / 44100 + (b4 & 1u);
    frameSize_ = 2u * words;
    sampleRate_ = kAc3Rates[fscod];
    isEac3_ = false;
  } else if (bsid >= 10 && bsid <= 16) {
    const unsigned strmtyp = b2 >> 6;
    if (strmtyp == 1 || strmtyp == 3) return false;  // dependent or reserved
    if (((b2 >> 3) & 7) != 0) return false;           // substreamid
    const unsigned frmsiz = ((b2 & 7u) << 8) | b3;
    frameSize_ = 2 * frmsiz + 2;
    // fscod 3: a reduced rate in fscod2.
    sampleRate_ = fscod != 3 ? kAc3Rates[fscod] : kEac3ReducedRates[(b4 >> 4) & 3];
    if (sampleRate_ == 0) return false;
    isEac3_ = true;
  } else {
    return false;
  }
  // A frame too short to hold its own header cannot be real; it would also
  // leave nothing to collect.
  if (frameSize_ < 8) return false;
  bytesMissing_ = frameSize_ - 6;
  return true;
}

void Ac3Probe::readChannelLayout() {
  BitReader reader(std::span<const std::uint8_t>(frame_.data(), frameSize_));
  unsigned acmod;
  if (!isEac3_) {
    reader.skip_bits_long(6 * 8);
    acmod = reader.read_bits(3);
    if ((acmod & 1) != 0 && acmod != 1) reader.read_bits(2);  // cmixlev
    if ((acmod & 4) != 0) reader.read_bits(2);                // surmixlev
    if (acmod == 2) reader.read_bits(2);                      // dsurmod
  } else {
    reader.skip_bits_long(4 * 8);
    reader.read_bits(2);  // fscod
    reader.read_bits(2);  // numblkscod
    acmod = reader.read_bits(3);
  }
  layout_.lfe = reader.read_bits(1);
  layout_.channels = ac3::kNfchans[acmod];
  layout_.isEac3 = isEac3_;
  layout_.sampleRate = sampleRate_;
}

bool Ac3Probe::probe(std::span<const std::uint8_t> payload, Ac3ProbeResult& result) {
  std::size_t i = 0;
  while (i < payload.size()) {
    const std::uint8_t byte = payload[i];
    switch (state_) {
      case 0:
        ++i;
        if (byte == 0x0B) state_ = 1;
        break;
      case 1:
        ++i;
        state_ = byte == 0x77 ? 2 : byte == 0x0B ? 1 : 0;
        break;
      case 2:
      case 3:
      case 4:
        ++i;
        frame_[state_] = byte;
        ++state_;
        break;
      case 5:
        ++i;
        frame_[5] = byte;
        state_ = checkHeader() ? 6 : 0;
        break;
      case 6: {
        const std::size_t take = std::min<std::size_t>(bytesMissing_, payload.size() - i);
        std::memcpy(frame_.data() + (frameSize_ - bytesMissing_), payload.data() + i, take);
        i += take;
        bytesMissing_ -= static_cast<std::uint32_t>(take);
        if (bytesMissing_ == 0) {
          readChannelLayout();
          state_ = 7;
        }
        break;
      }
      case 7:
        ++i;
        state_ = byte == 0x0B ? 8 : 0;
        break;
      default:
        ++i;
        state_ = 0;
        if (byte == 0x77) {
          result = layout_;
          return true;
        }
        break;
    }
  }
  return false;
}

}  // namespace kelvor
