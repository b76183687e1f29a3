#include "scan/stream_codec.h"

#include <cstring>

#include "common/mpeg_ids.h"

namespace kelvor {
namespace {

constexpr std::uint8_t kRegistrationDescriptor = 0x05;
constexpr std::uint8_t kVbiTeletextDescriptor = 0x46;
constexpr std::uint8_t kTeletextDescriptor = 0x56;
constexpr std::uint8_t kSubtitlingDescriptor = 0x59;
constexpr std::uint8_t kAc3Descriptor = 0x6A;
constexpr std::uint8_t kEnhancedAc3Descriptor = 0x7A;
constexpr std::uint8_t kDtsDescriptor = 0x7B;
constexpr std::uint8_t kExtensionDescriptor = 0x7F;
constexpr std::uint8_t kDtsHdExtensionTag = 0x0E;  // descriptor_tag_extension of DTS-HD

// A private stream's codec from its descriptors: the first one that names
// a codec decides.
Codec CodecOfDescriptors(std::span<const std::uint8_t> d) {
  for (std::size_t j = 0; j + 2 <= d.size();) {
    const std::uint8_t tag = d[j];
    const std::size_t len = d[j + 1];
    if (j + 2 + len > d.size()) break;
    const auto body = d.subspan(j + 2, len);
    switch (tag) {
      case kAc3Descriptor: return Codec::Ac3;
      case kEnhancedAc3Descriptor: return Codec::Eac3;
      case kDtsDescriptor: return Codec::Dts;
      case kSubtitlingDescriptor: return Codec::DvbSubtitle;
      case kTeletextDescriptor:
      case kVbiTeletextDescriptor: return Codec::Teletext;
      case kExtensionDescriptor:
        if (!body.empty() && body[0] == kDtsHdExtensionTag) return Codec::Dts;
        break;
      case kRegistrationDescriptor:
        if (len >= 4) {
          const char* id = reinterpret_cast<const char*>(body.data());
          if (std::memcmp(id, "AC-3", 4) == 0) return Codec::Ac3;
          if (std::memcmp(id, "EAC3", 4) == 0) return Codec::Eac3;
          if (std::memcmp(id, "DTS1", 4) == 0 || std::memcmp(id, "DTS2", 4) == 0 ||
              std::memcmp(id, "DTS3", 4) == 0) {
            return Codec::Dts;
          }
        }
        break;
      default: break;
    }
    j += len + 2;
  }
  return Codec::None;
}

}  // namespace

Codec CodecOfStream(std::uint8_t streamType, std::span<const std::uint8_t> descriptors, bool m2ts) {
  if (!m2ts && (streamType == 0x84 || streamType == 0x85 || streamType == 0x86 || streamType == 0x90)) {
    return Codec::None;
  }
  switch (streamType) {
    case 0x01:
    case kStreamTypeMpeg2Video: return Codec::Mpeg2Video;
    case kStreamTypeAvcVideo: return Codec::H264;
    case kStreamTypeHevcVideo: return Codec::Hevc;
    case kStreamTypeMpeg1Audio:
    case kStreamTypeMpeg2Audio: return Codec::MpegAudio;
    case 0x0F: return Codec::AacAdts;
    case 0x11: return Codec::AacLatm;
    case kStreamTypeAc3: return Codec::Ac3;
    case 0x84:  // E-AC-3 of M2TS
    case kStreamTypeEac3: return Codec::Eac3;
    case 0x82:  // DTS (also in TS), DTS-HD high resolution and master audio
    case 0x85:
    case 0x86: return Codec::Dts;
    case 0x83: return Codec::TrueHd;
    case 0x90: return Codec::Pgs;
    case kStreamTypePrivatePes: return CodecOfDescriptors(descriptors);
    default: return Codec::None;
  }
}

const char* CodecName(Codec codec) {
  switch (codec) {
    case Codec::None: return "unknown";
    case Codec::Mpeg2Video: return "MPEG-2 video";
    case Codec::H264: return "H.264 video";
    case Codec::Hevc: return "HEVC video";
    case Codec::MpegAudio: return "MPEG audio";
    case Codec::Ac3: return "AC-3";
    case Codec::Eac3: return "E-AC-3";
    case Codec::AacAdts: return "AAC (ADTS)";
    case Codec::AacLatm: return "AAC (LATM)";
    case Codec::Dts: return "DTS";
    case Codec::TrueHd: return "TrueHD";
    case Codec::DvbSubtitle: return "DVB subtitles";
    case Codec::Teletext: return "teletext";
    case Codec::Pgs: return "PGS subtitles";
  }
  return "unknown";
}

const char* CodecKind(Codec codec) {
  switch (codec) {
    case Codec::None: return "unknown";
    case Codec::Mpeg2Video: return "mpeg2video";
    case Codec::H264: return "h264";
    case Codec::Hevc: return "hevc";
    case Codec::MpegAudio: return "mpeg_audio";
    case Codec::Ac3: return "ac3";
    case Codec::Eac3: return "eac3";
    case Codec::AacAdts: return "aac_adts";
    case Codec::AacLatm: return "aac_latm";
    case Codec::Dts: return "dts";
    case Codec::TrueHd: return "truehd";
    case Codec::DvbSubtitle: return "dvb_subtitle";
    case Codec::Teletext: return "teletext";
    case Codec::Pgs: return "pgs";
  }
  return "unknown";
}

const char* AudioTypeName(std::uint8_t audioType) {
  switch (audioType) {
    case 1: return "clean effects";
    case 2: return "hearing impaired";
    case 3: return "audio description";
    default: return nullptr;
  }
}

}  // namespace kelvor
