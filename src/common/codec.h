#pragma once
// The codec of an elementary stream, as the scan identifies it and the
// conversion and the multiplexer act on it. A new codec is one more value
// here and its mapping from the PMT's stream_type (scan/pmt.cpp).
#include <cstdint>

namespace kelvor {

enum class Codec : std::uint8_t {
  None,
  Mpeg2Video,  // MPEG-1/2 video
  H264,
  MpegAudio,   // MPEG-1/2 audio, Layer I or II
  Ac3,
  Eac3,
};

constexpr bool IsMpegAudio(Codec c) { return c == Codec::MpegAudio; }
constexpr bool IsVideoCodec(Codec c) { return c == Codec::Mpeg2Video || c == Codec::H264; }
// Carried in private PES packets and written as AC-3 unless converted.
constexpr bool IsAc3Family(Codec c) { return c == Codec::Ac3 || c == Codec::Eac3; }
constexpr bool IsAudioCodec(Codec c) { return c == Codec::MpegAudio || IsAc3Family(c); }

}  // namespace kelvor
