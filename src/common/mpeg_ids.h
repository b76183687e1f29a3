#pragma once
// The identifiers of the MPEG systems layer that this program reads and
// writes, named as the systems standard (and ATSC A/52 for AC-3) names them.
#include <cstdint>

namespace kelvor {

// stream_id of a PES packet.
inline constexpr std::uint8_t kProgramStreamMapId = 0xBC;
inline constexpr std::uint8_t kPrivateStream1Id = 0xBD;        // AC-3 in 188-byte input and in PS output
inline constexpr std::uint8_t kPaddingStreamId = 0xBE;
inline constexpr std::uint8_t kExtendedStreamId = 0xFD;        // AC-3 in 192-byte input
inline constexpr std::uint8_t kFirstMpegAudioStreamId = 0xC0;  // audio stream number 0 .. 31
inline constexpr std::uint8_t kLastMpegAudioStreamId = 0xDF;
inline constexpr std::uint8_t kFirstVideoStreamId = 0xE0;      // video stream number 0 .. 15
inline constexpr std::uint8_t kLastVideoStreamId = 0xEF;

constexpr bool IsMpegAudioStreamId(std::uint8_t id) {
  return id >= kFirstMpegAudioStreamId && id <= kLastMpegAudioStreamId;
}
constexpr bool IsVideoStreamId(std::uint8_t id) {
  return id >= kFirstVideoStreamId && id <= kLastVideoStreamId;
}
// The stream id that carries AC-3 and E-AC-3 in input of this packet size:
// 192-byte packets come from disc formats, 188 and 204 from broadcast.
constexpr std::uint8_t PrivateAudioStreamId(std::uint32_t packetSize) {
  return packetSize == 192 ? kExtendedStreamId : kPrivateStream1Id;
}

// stream_type in a program map (TS PMT or PS stream map).
inline constexpr std::uint8_t kStreamTypeMpeg2Video = 0x02;    // ISO/IEC 13818-2 video
inline constexpr std::uint8_t kStreamTypeMpeg1Audio = 0x03;    // ISO/IEC 11172-3 audio
inline constexpr std::uint8_t kStreamTypeMpeg2Audio = 0x04;    // ISO/IEC 13818-3 audio
inline constexpr std::uint8_t kStreamTypeAdtsAac = 0x0F;      // AAC in ADTS frames
inline constexpr std::uint8_t kStreamTypeLatmAac = 0x11;      // AAC in LATM/LOAS frames
inline constexpr std::uint8_t kStreamTypePrivatePes = 0x06;    // PES packets with private data (DVB AC-3)
inline constexpr std::uint8_t kStreamTypeAvcVideo = 0x1B;      // ITU-T H.264 video
inline constexpr std::uint8_t kStreamTypeHevcVideo = 0x24;     // ITU-T H.265 video
inline constexpr std::uint8_t kStreamTypeAc3 = 0x81;           // ATSC AC-3 audio
inline constexpr std::uint8_t kStreamTypeEac3 = 0x87;          // ATSC E-AC-3 audio

}  // namespace kelvor
