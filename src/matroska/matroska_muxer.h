#pragma once
// Writes a Matroska file from whole access units, in the order they come:
// the EBML header, a Segment with its SeekHead, Info and Tracks, Clusters of
// SimpleBlocks, and at the end Chapters and Cues, after which the sizes,
// positions and duration in the file's head are written back.
//
// The writer is sequential. Until the end the Segment has an unknown size,
// the SeekHead names only Info and Tracks and the duration's place is a Void,
// so a file cut off anywhere after its first cluster is valid up to its last
// whole cluster. Each cluster is built in memory and written whole, with its
// size known; it starts at a video key frame once it is two seconds long
// (every two seconds without video) and ends earlier only when full.
//
// Codec private data and the picture format come from the stream when the
// track's description leaves them out: AVC and HEVC parameter sets, the ADTS
// header or LATM configuration of AAC, the MPEG-2 sequence header, the first audio frame's header.
// The head (up to Tracks) is therefore written with the first cluster, which
// waits for them (up to half its room).
//
// Memory is taken once, when the object is made; nothing is allocated per
// unit.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "io/packet_sink.h"
#include "matroska/aac_config.h"
#include "matroska/video_format.h"

namespace kelvor::mkv {

enum class TrackCodec : std::uint8_t {
  Mpeg2Video,
  Avc,
  Hevc,
  MpegL1,
  MpegL2,
  MpegL3,
  Ac3,
  Eac3,
  Dts,
  TrueHd,
  Aac,
  DvbSubtitle,
  Pgs,
  TextUtf8,
};

inline constexpr std::size_t kMaxTracks = 16;
inline constexpr std::size_t kMaxCodecPrivate = 1024;
inline constexpr std::size_t kMaxChapters = 256;
inline constexpr std::uint32_t kNoTrack = 0xFFFFFFFF;
// A unit without a time stamp of its own: it follows the track's last one
// by one frame.
inline constexpr std::int64_t kNoStamp = INT64_MIN;

struct TrackSetup {
  TrackCodec codec = TrackCodec::Mpeg2Video;
  std::array<char, 4> language{'u', 'n', 'd', '\0'};  // ISO 639-2
  bool isDefault = false;
  bool forced = false;
  bool hearingImpaired = false;
  bool visualImpaired = false;  // audio description
  // Audio; read from the first frame when 0.
  std::uint32_t sampleRate = 0;
  std::uint32_t channels = 0;
  // Video; read from the stream when the width is 0.
  VideoFormat video;
  // Codec private data given by the caller (DVB subtitles, LATM AAC); AVC,
  // HEVC and AAC (ADTS or LATM) build theirs from the stream when this is
  // empty.
  std::array<std::uint8_t, kMaxCodecPrivate> codecPrivate{};
  std::uint16_t codecPrivateSize = 0;

  void SetPrivate(std::span<const std::uint8_t> bytes);
};

class MatroskaMuxer {
 public:
  // A cluster is written when it reaches this many bytes at the latest; a
  // single unit may not be larger.
  static constexpr std::size_t kClusterBytes = std::size_t{16} << 20;
  // AVC and HEVC units are collected here before their start codes become
  // lengths.
  static constexpr std::size_t kMaxNalUnitBytes = std::size_t{8} << 20;
  static constexpr std::size_t kMaxCues = std::size_t{1} << 17;
  static constexpr std::int64_t kClusterMs = 2000;
  static constexpr std::int64_t kClusterMaxMs = 5000;

  // `out` must outlive the muxer. Takes the buffers.
  explicit MatroskaMuxer(PacketSink& out);
  ~MatroskaMuxer();
  MatroskaMuxer(const MatroskaMuxer&) = delete;
  MatroskaMuxer& operator=(const MatroskaMuxer&) = delete;

  // Start of a run: no tracks, nothing written.
  void Reset();
  // Adds a track before the first unit; returns its index, or kNoTrack when
  // there are kMaxTracks already or units have been written.
  std::uint32_t AddTrack(const TrackSetup& setup);

  // One access unit of `track`: its presentation time in 90 kHz ticks from
  // the start of the output, and whether decoding can start at it. False
  // only when the output refused bytes (the run ends then).
  [[nodiscard]] bool BeginUnit(std::uint32_t track, std::int64_t pts, bool key);
  [[nodiscard]] bool WriteUnitBytes(std::span<const std::uint8_t> bytes);
  // The unit's time, when it becomes known only after its first bytes (an
  // MPEG-2 picture's comes with its picture header).
  void SetUnitTime(std::int64_t pts);
  [[nodiscard]] bool EndUnit();
  [[nodiscard]] bool WriteUnit(std::uint32_t track, std::int64_t pts, bool key, std::span<const std::uint8_t> bytes);

  // A chapter starts at `pts` (90 kHz from the start of the output), named
  // by its time. Chapters beyond kMaxChapters are left out.
  void AddChapter(std::int64_t pts);

  // Writes the last cluster, the chapters and the index, and then the
  // head's sizes, positions and duration where the output can go back.
  // False when the output refused bytes.
  [[nodiscard]] bool Finish();

  // Units left out because a single one was larger than kClusterBytes (or,
  // for AVC and HEVC, kMaxNalUnitBytes), or came for no track.
  std::uint64_t droppedUnits() const { return dropped_; }
  std::uint64_t bytesWritten() const { return written_; }
  // The duration the head states, in milliseconds: from the earliest unit's
  // time to the end of the latest.
  double durationMs() const;

 private:
  struct TrackState {
    TrackSetup setup;
    std::int64_t lastMs = -1;
    std::int64_t maxMs = -1;
    std::int64_t minMs = INT64_MAX;
    std::int64_t stepMs = 0;  // the last positive distance between units
    bool privateFromStream = false;
    LatmState latm;
  };
  struct Cue {
    std::uint64_t timeMs = 0;
    std::uint64_t clusterPos = 0;  // from the Segment's data
    std::uint32_t offset = 0;      // the block's place in the cluster body, then in the cluster
    std::uint8_t track = 0;
    bool placed = false;
  };
  struct Buffers;

  bool IsVideo(std::uint32_t track) const;
  bool UsesNalUnits(std::uint32_t track) const;
  std::int64_t ToMs(std::uint32_t track, std::int64_t pts) const;
  // Every track has what its entry needs from the stream.
  bool HeadReady() const;
  bool StartsCluster(std::uint32_t track, std::int64_t ms, bool key) const;
  void OpenBlock(std::int64_t ms, bool key);
  bool AppendToCluster(std::span<const std::uint8_t> bytes);
  // Writes the cluster's body up to `keep` and moves what follows (the
  // unit being built) to the start of a new cluster at `nextMs`.
  bool FlushCluster(std::size_t keep, std::int64_t nextMs);
  bool WriteHead();
  void LearnFromUnit(TrackState& t, std::span<const std::uint8_t> unit);
  void RecordCue(std::int64_t ms, std::uint32_t track, std::size_t offset);
  bool WriteChaptersAndCues(std::uint64_t& chaptersPos, std::uint64_t& cuesPos);
  bool Emit(std::span<const std::uint8_t> bytes);

  PacketSink& out_;
  std::unique_ptr<Buffers> buffers_;

  std::array<TrackState, kMaxTracks> tracks_{};
  std::uint32_t trackCount_ = 0;
  bool videoPresent_ = false;

  std::uint64_t written_ = 0;
  std::uint64_t segmentDataStart_ = 0;
  std::uint64_t tracksPos_ = 0;
  std::size_t headSize_ = 0;
  bool headWritten_ = false;
  bool failed_ = false;
  std::uint64_t dropped_ = 0;

  // The cluster being built.
  bool clusterOpen_ = false;
  std::int64_t clusterMs_ = 0;
  std::size_t clusterUsed_ = 0;
  // The unit being built.
  bool inUnit_ = false;
  bool unitDropped_ = false;
  std::uint32_t unitTrack_ = 0;
  bool unitKey_ = false;
  std::int64_t unitMs_ = 0;
  std::size_t blockStart_ = 0;  // its SimpleBlock in the cluster body
  std::size_t stageUsed_ = 0;   // AVC/HEVC bytes collected

  std::size_t cueCount_ = 0;
  std::size_t firstOpenCue_ = 0;  // cues from here on wait for their cluster's position
  std::uint32_t cueStride_ = 1;   // thinning once the table is full
  std::uint32_t cueSkip_ = 0;

  std::array<std::int64_t, kMaxChapters> chapters_{};
  std::size_t chapterCount_ = 0;
};

}  // namespace kelvor::mkv
