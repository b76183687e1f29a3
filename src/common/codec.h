#pragma once
// The codec of an elementary stream, as the scan identifies it and the
// conversion and the multiplexer act on it. A new codec is one more value
// here and its mapping from the PMT (scan/stream_codec.cpp).
#include <cstdint>

namespace kelvor {

enum class Codec : std::uint8_t {
  None,
  Mpeg2Video,  // MPEG-1/2 video
  H264,
  Hevc,
  MpegAudio,   // MPEG-1/2 audio, Layer I or II
  Ac3,
  Eac3,
  AacAdts,     // AAC in ADTS frames
  AacLatm,     // AAC in LATM/LOAS frames
  Dts,         // DTS core, with or without DTS-HD extensions
  TrueHd,      // TrueHD with its AC-3 core in the same PID
  DvbSubtitle,
  Teletext,
  Pgs,         // presentation graphics subtitles of M2TS
};

// Video made of NAL units with parameter sets (H.264, HEVC).
constexpr bool IsNalVideo(Codec c) { return c == Codec::H264 || c == Codec::Hevc; }
constexpr bool IsMpegAudio(Codec c) { return c == Codec::MpegAudio; }
constexpr bool IsVideoCodec(Codec c) { return c == Codec::Mpeg2Video || IsNalVideo(c); }
// Carried in private PES packets and written as AC-3 unless converted.
constexpr bool IsAc3Family(Codec c) { return c == Codec::Ac3 || c == Codec::Eac3; }
// The audio the conversion carries.
constexpr bool IsAudioCodec(Codec c) { return c == Codec::MpegAudio || IsAc3Family(c); }
constexpr bool IsAacCodec(Codec c) { return c == Codec::AacAdts || c == Codec::AacLatm; }
constexpr bool IsSubtitleCodec(Codec c) {
  return c == Codec::DvbSubtitle || c == Codec::Teletext || c == Codec::Pgs;
}
// Any audio the scan can tell, carried or not.
constexpr bool IsAnyAudioCodec(Codec c) {
  return IsAudioCodec(c) || IsAacCodec(c) || c == Codec::Dts || c == Codec::TrueHd;
}

}  // namespace kelvor
