#include "matroska/audio_format.h"

#include <array>

#include "matroska/rbsp_reader.h"

namespace kelvor::mkv {

namespace {

// MPEG-1 sampling rates; MPEG-2 halves them, MPEG-2.5 quarters them.
constexpr std::array<std::uint32_t, 3> kMpegRates = {44100, 48000, 32000};
// AC-3 fscod 0..2, and E-AC-3's reduced rates by fscod2.
constexpr std::array<std::uint32_t, 3> kAc3Rates = {48000, 44100, 32000};
// Full-bandwidth channels of acmod 0..7.
constexpr std::array<std::uint32_t, 8> kAcmodChannels = {2, 1, 2, 3, 3, 4, 4, 5};

}  // namespace

AudioFormat ReadMpegAudioFormat(std::span<const std::uint8_t> frame) {
  if (frame.size() < 4 || frame[0] != 0xFF || (frame[1] & 0xE0) != 0xE0) return {};
  const unsigned version = (frame[1] >> 3) & 0x03;  // 3: MPEG-1, 2: MPEG-2, 0: MPEG-2.5
  const unsigned rateIndex = (frame[2] >> 2) & 0x03;
  if (version == 1 || rateIndex == 3 || ((frame[1] >> 1) & 0x03) == 0) return {};
  const std::uint32_t shift = version == 3 ? 0 : (version == 2 ? 1 : 2);
  return {kMpegRates[rateIndex] >> shift, (frame[3] >> 6) == 3 ? 1u : 2u};
}

AudioFormat ReadAc3Format(std::span<const std::uint8_t> frame) {
  if (frame.size() < 8 || frame[0] != 0x0B || frame[1] != 0x77) return {};
  const unsigned bsid = frame[5] >> 3;
  RbspReader r(frame);
  AudioFormat f;
  unsigned acmod = 0;
  if (bsid <= 10) {
    r.Skip(32);  // syncword, crc1
    const unsigned fscod = r.Bits(2);
    if (fscod == 3) return {};
    f.sampleRate = kAc3Rates[fscod];
    r.Skip(6 + 5 + 3);  // frmsizecod, bsid, bsmod
    acmod = r.Bits(3);
    if ((acmod & 0x01) != 0 && acmod != 1) r.Skip(2);  // cmixlev
    if ((acmod & 0x04) != 0) r.Skip(2);                // surmixlev
    if (acmod == 2) r.Skip(2);                         // dsurmod
  } else if (bsid <= 16) {
    r.Skip(16 + 2 + 3 + 11);  // syncword, strmtyp, substreamid, frmsiz
    const unsigned fscod = r.Bits(2);
    if (fscod == 3) {
      const unsigned fscod2 = r.Bits(2);
      if (fscod2 == 3) return {};
      f.sampleRate = kAc3Rates[fscod2] / 2;
    } else {
      f.sampleRate = kAc3Rates[fscod];
      r.Skip(2);  // numblkscod
    }
    acmod = r.Bits(3);
  } else {
    return {};
  }
  const bool lfe = r.Flag();
  if (r.exhausted()) return {};
  f.channels = kAcmodChannels[acmod] + (lfe ? 1 : 0);
  return f;
}

}  // namespace kelvor::mkv
