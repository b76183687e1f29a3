#pragma once
// The element ids and codec ids this writer uses, as the EBML and Matroska
// registries assign them. Each id is kept with its length marker, exactly
// as it appears in the file. Nothing else belongs in this file.
#include <cstdint>
#include <string_view>

namespace kelvor::mkv {

namespace id {
// EBML header.
inline constexpr std::uint32_t kEbml = 0x1A45DFA3;
inline constexpr std::uint32_t kEbmlVersion = 0x4286;
inline constexpr std::uint32_t kEbmlReadVersion = 0x42F7;
inline constexpr std::uint32_t kEbmlMaxIdLength = 0x42F2;
inline constexpr std::uint32_t kEbmlMaxSizeLength = 0x42F3;
inline constexpr std::uint32_t kDocType = 0x4282;
inline constexpr std::uint32_t kDocTypeVersion = 0x4287;
inline constexpr std::uint32_t kDocTypeReadVersion = 0x4285;
inline constexpr std::uint32_t kVoid = 0xEC;

// Segment and its index of top-level elements.
inline constexpr std::uint32_t kSegment = 0x18538067;
inline constexpr std::uint32_t kSeekHead = 0x114D9B74;
inline constexpr std::uint32_t kSeek = 0x4DBB;
inline constexpr std::uint32_t kSeekId = 0x53AB;
inline constexpr std::uint32_t kSeekPosition = 0x53AC;

// Segment information.
inline constexpr std::uint32_t kInfo = 0x1549A966;
inline constexpr std::uint32_t kTimestampScale = 0x2AD7B1;
inline constexpr std::uint32_t kDuration = 0x4489;
inline constexpr std::uint32_t kMuxingApp = 0x4D80;
inline constexpr std::uint32_t kWritingApp = 0x5741;

// Clusters.
inline constexpr std::uint32_t kCluster = 0x1F43B675;
inline constexpr std::uint32_t kTimestamp = 0xE7;
inline constexpr std::uint32_t kSimpleBlock = 0xA3;

// Tracks.
inline constexpr std::uint32_t kTracks = 0x1654AE6B;
inline constexpr std::uint32_t kTrackEntry = 0xAE;
inline constexpr std::uint32_t kTrackNumber = 0xD7;
inline constexpr std::uint32_t kTrackUid = 0x73C5;
inline constexpr std::uint32_t kTrackType = 0x83;
inline constexpr std::uint32_t kFlagEnabled = 0xB9;
inline constexpr std::uint32_t kFlagDefault = 0x88;
inline constexpr std::uint32_t kFlagForced = 0x55AA;
inline constexpr std::uint32_t kFlagHearingImpaired = 0x55AB;
inline constexpr std::uint32_t kFlagVisualImpaired = 0x55AC;
inline constexpr std::uint32_t kFlagLacing = 0x9C;
inline constexpr std::uint32_t kDefaultDuration = 0x23E383;
inline constexpr std::uint32_t kLanguage = 0x22B59C;
inline constexpr std::uint32_t kCodecId = 0x86;
inline constexpr std::uint32_t kCodecPrivate = 0x63A2;
inline constexpr std::uint32_t kVideo = 0xE0;
inline constexpr std::uint32_t kFlagInterlaced = 0x9A;
inline constexpr std::uint32_t kPixelWidth = 0xB0;
inline constexpr std::uint32_t kPixelHeight = 0xBA;
inline constexpr std::uint32_t kDisplayWidth = 0x54B0;
inline constexpr std::uint32_t kDisplayHeight = 0x54BA;
inline constexpr std::uint32_t kDisplayUnit = 0x54B2;
inline constexpr std::uint32_t kAudio = 0xE1;
inline constexpr std::uint32_t kSamplingFrequency = 0xB5;
inline constexpr std::uint32_t kChannels = 0x9F;

// Index for seeking.
inline constexpr std::uint32_t kCues = 0x1C53BB6B;
inline constexpr std::uint32_t kCuePoint = 0xBB;
inline constexpr std::uint32_t kCueTime = 0xB3;
inline constexpr std::uint32_t kCueTrackPositions = 0xB7;
inline constexpr std::uint32_t kCueTrack = 0xF7;
inline constexpr std::uint32_t kCueClusterPosition = 0xF1;
inline constexpr std::uint32_t kCueRelativePosition = 0xF0;

// Chapters.
inline constexpr std::uint32_t kChapters = 0x1043A770;
inline constexpr std::uint32_t kEditionEntry = 0x45B9;
inline constexpr std::uint32_t kEditionUid = 0x45BC;
inline constexpr std::uint32_t kChapterAtom = 0xB6;
inline constexpr std::uint32_t kChapterUid = 0x73C4;
inline constexpr std::uint32_t kChapterTimeStart = 0x91;
inline constexpr std::uint32_t kChapterDisplay = 0x80;
inline constexpr std::uint32_t kChapString = 0x85;
}  // namespace id

// TrackType values.
inline constexpr std::uint32_t kTrackTypeVideo = 1;
inline constexpr std::uint32_t kTrackTypeAudio = 2;
inline constexpr std::uint32_t kTrackTypeSubtitle = 0x11;

// FlagInterlaced values (0 is "undetermined").
inline constexpr std::uint32_t kInterlaced = 1;
inline constexpr std::uint32_t kProgressive = 2;

// DisplayUnit 3: DisplayWidth/DisplayHeight give only the aspect ratio.
inline constexpr std::uint32_t kDisplayUnitAspectRatio = 3;

// SimpleBlock flags.
inline constexpr std::uint8_t kBlockKeyframe = 0x80;

// A size field of eight bytes with every value bit set: the size is not
// (yet) known.
inline constexpr std::uint64_t kUnknownSizeValue8 = (std::uint64_t{1} << 56) - 1;

namespace codec {
inline constexpr std::string_view kMpeg2Video = "V_MPEG2";
inline constexpr std::string_view kAvc = "V_MPEG4/ISO/AVC";
inline constexpr std::string_view kHevc = "V_MPEGH/ISO/HEVC";
inline constexpr std::string_view kMpegL1 = "A_MPEG/L1";
inline constexpr std::string_view kMpegL2 = "A_MPEG/L2";
inline constexpr std::string_view kMpegL3 = "A_MPEG/L3";
inline constexpr std::string_view kAc3 = "A_AC3";
inline constexpr std::string_view kEac3 = "A_EAC3";
inline constexpr std::string_view kDts = "A_DTS";
inline constexpr std::string_view kTrueHd = "A_TRUEHD";
inline constexpr std::string_view kAac = "A_AAC";
inline constexpr std::string_view kDvbSubtitle = "S_DVBSUB";
inline constexpr std::string_view kPgs = "S_HDMV/PGS";
inline constexpr std::string_view kTextUtf8 = "S_TEXT/UTF8";
}  // namespace codec

}  // namespace kelvor::mkv
