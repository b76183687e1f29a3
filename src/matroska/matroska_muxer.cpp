#include "matroska/matroska_muxer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "matroska/aac_config.h"
#include "matroska/audio_format.h"
#include "matroska/avc_config.h"
#include "matroska/ebml_writer.h"
#include "matroska/hevc_config.h"
#include "matroska/matroska_ids.h"
#include "matroska/mpeg2_sequence.h"
#include "matroska/nal_units.h"

namespace kelvor::mkv {

namespace {

constexpr std::size_t kHeadBytes = std::size_t{64} << 10;
// A SimpleBlock's header as first written: id, a four-byte size, the track
// number, the relative time stamp and the flags.
constexpr std::size_t kBlockHeader = 9;
constexpr std::size_t kBlockSizeAt = 1;
constexpr std::size_t kBlockTimeAt = 6;
// The SeekHead's room: four entries of 21 bytes and the element's own id
// and size; what the entries do not use is a Void.
constexpr std::size_t kSeekHeadRoom = 96;
constexpr std::size_t kDurationRoom = 11;  // id, size, eight-byte float
constexpr std::string_view kAppName = "KELVOR";

std::string_view CodecId(TrackCodec codec) {
  switch (codec) {
    case TrackCodec::Mpeg2Video: return codec::kMpeg2Video;
    case TrackCodec::Avc: return codec::kAvc;
    case TrackCodec::Hevc: return codec::kHevc;
    case TrackCodec::MpegL1: return codec::kMpegL1;
    case TrackCodec::MpegL2: return codec::kMpegL2;
    case TrackCodec::MpegL3: return codec::kMpegL3;
    case TrackCodec::Ac3: return codec::kAc3;
    case TrackCodec::Eac3: return codec::kEac3;
    case TrackCodec::Dts: return codec::kDts;
    case TrackCodec::TrueHd: return codec::kTrueHd;
    case TrackCodec::Aac: return codec::kAac;
    case TrackCodec::DvbSubtitle: return codec::kDvbSubtitle;
    case TrackCodec::Pgs: return codec::kPgs;
    case TrackCodec::TextUtf8: return codec::kTextUtf8;
  }
  return {};
}

std::uint32_t TrackType(TrackCodec codec) {
  switch (codec) {
    case TrackCodec::Mpeg2Video:
    case TrackCodec::Avc:
    case TrackCodec::Hevc:
      return kTrackTypeVideo;
    case TrackCodec::DvbSubtitle:
    case TrackCodec::Pgs:
    case TrackCodec::TextUtf8:
      return kTrackTypeSubtitle;
    default:
      return kTrackTypeAudio;
  }
}

// The four bytes of an element id as a SeekID holds them.
std::array<std::uint8_t, 4> IdBytes(std::uint32_t id) {
  return {static_cast<std::uint8_t>(id >> 24), static_cast<std::uint8_t>(id >> 16),
          static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id)};
}

// "hh:mm:ss.mmm".
std::string_view ChapterName(std::int64_t ms, std::array<char, 32>& text) {
  const auto total = static_cast<unsigned long long>(ms < 0 ? 0 : ms);
  const int n = std::snprintf(text.data(), text.size(), "%02llu:%02llu:%02llu.%03llu", total / 3600000,
                              total / 60000 % 60, total / 1000 % 60, total % 1000);
  return {text.data(), n > 0 ? static_cast<std::size_t>(n) : 0};
}

}  // namespace

struct MatroskaMuxer::Buffers {
  std::unique_ptr<std::uint8_t[]> cluster{new std::uint8_t[kClusterBytes]};
  std::unique_ptr<std::uint8_t[]> stage{new std::uint8_t[kMaxNalUnitBytes]};
  std::unique_ptr<Cue[]> cues{new Cue[kMaxCues]};
  std::array<std::uint8_t, kHeadBytes> head{};
  std::size_t segmentSizeAt = 0;
  std::size_t seekHeadAt = 0;
  std::size_t durationAt = 0;
  std::uint64_t infoPos = 0;
};

void TrackSetup::SetPrivate(std::span<const std::uint8_t> bytes) {
  codecPrivateSize = static_cast<std::uint16_t>(std::min(bytes.size(), codecPrivate.size()));
  if (codecPrivateSize != 0) std::memcpy(codecPrivate.data(), bytes.data(), codecPrivateSize);
}

MatroskaMuxer::MatroskaMuxer(PacketSink& out) : out_(out), buffers_(std::make_unique<Buffers>()) {}

MatroskaMuxer::~MatroskaMuxer() = default;

void MatroskaMuxer::Reset() {
  trackCount_ = 0;
  videoPresent_ = false;
  written_ = 0;
  segmentDataStart_ = 0;
  tracksPos_ = 0;
  headSize_ = 0;
  headWritten_ = false;
  failed_ = false;
  dropped_ = 0;
  clusterOpen_ = false;
  clusterUsed_ = 0;
  inUnit_ = false;
  unitDropped_ = false;
  stageUsed_ = 0;
  cueCount_ = 0;
  firstOpenCue_ = 0;
  cueStride_ = 1;
  cueSkip_ = 0;
  chapterCount_ = 0;
}

std::uint32_t MatroskaMuxer::AddTrack(const TrackSetup& setup) {
  if (trackCount_ >= kMaxTracks || headWritten_ || clusterOpen_) return kNoTrack;
  tracks_[trackCount_] = TrackState{};
  tracks_[trackCount_].setup = setup;
  if (TrackType(setup.codec) == kTrackTypeVideo) videoPresent_ = true;
  return trackCount_++;
}

bool MatroskaMuxer::IsVideo(std::uint32_t track) const { return TrackType(tracks_[track].setup.codec) == kTrackTypeVideo; }

bool MatroskaMuxer::UsesNalUnits(std::uint32_t track) const {
  const TrackCodec c = tracks_[track].setup.codec;
  return c == TrackCodec::Avc || c == TrackCodec::Hevc;
}

std::int64_t MatroskaMuxer::ToMs(std::uint32_t track, std::int64_t pts) const {
  const TrackState& t = tracks_[track];
  if (pts == kNoStamp) {
    if (t.lastMs < 0) return 0;
    const std::uint64_t frameNs = t.setup.video.frameDurationNs;
    return t.lastMs + (frameNs != 0 ? static_cast<std::int64_t>((frameNs + 500000) / 1000000) : t.stepMs);
  }
  // Each stamp on its own, so no rounding adds up over hours. Times before
  // the start are the start.
  if (pts <= 0) return 0;
  return pts / 90 + (pts % 90 >= 45 ? 1 : 0);
}

bool MatroskaMuxer::HeadReady() const {
  for (std::uint32_t n = 0; n < trackCount_; ++n) {
    const TrackSetup& s = tracks_[n].setup;
    const bool needsPrivate = s.codec == TrackCodec::Avc || s.codec == TrackCodec::Hevc || s.codec == TrackCodec::Aac;
    if ((needsPrivate && s.codecPrivateSize == 0) || (IsVideo(n) && s.video.width == 0)) return false;
  }
  return true;
}

bool MatroskaMuxer::StartsCluster(std::uint32_t track, std::int64_t ms, bool key) const {
  const std::int64_t age = ms - clusterMs_;
  if (age > 32767 || age < -32768) return true;  // beyond a block's relative time stamp
  // The first cluster waits for what the head needs from the stream (the
  // parameter sets may come some pictures late), up to half its room.
  if (!headWritten_ && !HeadReady() && clusterUsed_ < kClusterBytes / 2) return false;
  if (!videoPresent_) return age >= kClusterMs;
  if (IsVideo(track) && key && age >= kClusterMs) return true;
  return age >= kClusterMaxMs;
}

bool MatroskaMuxer::Emit(std::span<const std::uint8_t> bytes) {
  if (failed_) return false;
  if (!out_.AppendPacket(bytes)) {
    failed_ = true;
    return false;
  }
  written_ += bytes.size();
  return true;
}

bool MatroskaMuxer::BeginUnit(std::uint32_t track, std::int64_t pts, bool key) {
  if (failed_) return false;
  if (inUnit_ && !EndUnit()) return false;
  inUnit_ = true;
  unitDropped_ = false;
  stageUsed_ = 0;
  if (track >= trackCount_) {
    unitDropped_ = true;
    ++dropped_;
    return true;
  }
  unitTrack_ = track;
  unitKey_ = key;
  unitMs_ = ToMs(track, pts);
  if (clusterOpen_ && kClusterBytes - clusterUsed_ < kBlockHeader && !FlushCluster(clusterUsed_, unitMs_)) return false;
  if (!clusterOpen_) {
    clusterOpen_ = true;
    clusterMs_ = unitMs_;
    clusterUsed_ = 0;
  }
  // The cluster, the relative time stamp and the index entry are settled
  // when the unit ends: its time may come after its first bytes.
  blockStart_ = clusterUsed_;
  std::uint8_t* b = buffers_->cluster.get() + blockStart_;
  b[0] = static_cast<std::uint8_t>(id::kSimpleBlock);
  PutSize(b + kBlockSizeAt, 0, 4);
  b[5] = static_cast<std::uint8_t>(0x80 | (track + 1));
  b[8] = key ? kBlockKeyframe : 0;
  clusterUsed_ += kBlockHeader;
  return true;
}

void MatroskaMuxer::SetUnitTime(std::int64_t pts) {
  if (inUnit_ && !unitDropped_ && pts != kNoStamp) unitMs_ = ToMs(unitTrack_, pts);
}

void MatroskaMuxer::RecordCue(std::int64_t ms, std::uint32_t track, std::size_t offset) {
  if (cueSkip_ > 0) {
    --cueSkip_;
    return;
  }
  if (cueCount_ == kMaxCues) {
    // Full: keep every other cue already placed, and from now on record
    // only every other one again.
    Cue* cues = buffers_->cues.get();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < firstOpenCue_; i += 2) cues[kept++] = cues[i];
    const std::size_t placed = kept;
    for (std::size_t i = firstOpenCue_; i < cueCount_; ++i) cues[kept++] = cues[i];
    firstOpenCue_ = placed;
    cueCount_ = kept;
    cueStride_ *= 2;
  }
  cueSkip_ = cueStride_ - 1;
  Cue& c = buffers_->cues[cueCount_++];
  c.timeMs = static_cast<std::uint64_t>(ms);
  c.track = static_cast<std::uint8_t>(track + 1);
  c.offset = static_cast<std::uint32_t>(offset);
  c.placed = false;
}

bool MatroskaMuxer::AppendToCluster(std::span<const std::uint8_t> bytes) {
  if (clusterUsed_ + bytes.size() > kClusterBytes && blockStart_ > 0 && !FlushCluster(blockStart_, unitMs_)) {
    return false;
  }
  if (clusterUsed_ + bytes.size() > kClusterBytes) {
    // One unit larger than a whole cluster: left out, the file stays whole.
    unitDropped_ = true;
    ++dropped_;
    clusterUsed_ = blockStart_;
    return true;
  }
  std::memcpy(buffers_->cluster.get() + clusterUsed_, bytes.data(), bytes.size());
  clusterUsed_ += bytes.size();
  return true;
}

bool MatroskaMuxer::WriteUnitBytes(std::span<const std::uint8_t> bytes) {
  if (failed_) return false;
  if (!inUnit_ || unitDropped_ || bytes.empty()) return true;
  if (!UsesNalUnits(unitTrack_)) return AppendToCluster(bytes);
  if (stageUsed_ + bytes.size() > kMaxNalUnitBytes) {
    unitDropped_ = true;
    ++dropped_;
    clusterUsed_ = blockStart_;
    return true;
  }
  std::memcpy(buffers_->stage.get() + stageUsed_, bytes.data(), bytes.size());
  stageUsed_ += bytes.size();
  return true;
}

bool MatroskaMuxer::EndUnit() {
  if (failed_) return false;
  if (!inUnit_) return true;
  inUnit_ = false;
  if (unitDropped_) return true;
  TrackState& t = tracks_[unitTrack_];
  std::uint8_t* cluster = buffers_->cluster.get();
  if (UsesNalUnits(unitTrack_)) {
    const std::span<const std::uint8_t> unit(buffers_->stage.get(), stageUsed_);
    if (!headWritten_) LearnFromUnit(t, unit);
    // A length in four bytes replaces a start code of at least three, so
    // the unit grows by at most a quarter.
    const std::size_t need = stageUsed_ + stageUsed_ / 4 + 4;
    if (clusterUsed_ + need > kClusterBytes && blockStart_ > 0 && !FlushCluster(blockStart_, unitMs_)) return false;
    const std::size_t n =
        clusterUsed_ + need > kClusterBytes
            ? 0
            : ToLengthPrefixed(unit, {cluster + clusterUsed_, kClusterBytes - clusterUsed_},
                               t.setup.codec == TrackCodec::Avc ? NalSyntax::H264 : NalSyntax::Hevc);
    if (n == 0) ++dropped_;
    clusterUsed_ += n;
  } else {
    std::span<const std::uint8_t> data(cluster + blockStart_ + kBlockHeader, clusterUsed_ - blockStart_ - kBlockHeader);
    if (!headWritten_) LearnFromUnit(t, data);
    if (t.setup.codec == TrackCodec::Aac) {
      // Matroska holds the raw frame; the ADTS header and the LATM
      // configuration are the codec private data's business.
      std::uint8_t* raw = cluster + blockStart_ + kBlockHeader;
      if (const auto adts = ReadAdtsHeader(data); adts && adts->headerSize < data.size()) {
        std::memmove(raw, data.data() + adts->headerSize, data.size() - adts->headerSize);
        clusterUsed_ -= adts->headerSize;
      } else if (data.size() > 3 && data[0] == 0x56 && (data[1] & 0xE0) == 0xE0) {
        const std::size_t n = LatmRawFrame(data, t.latm, {buffers_->stage.get(), kMaxNalUnitBytes});
        std::memcpy(raw, buffers_->stage.get(), n);
        clusterUsed_ = blockStart_ + kBlockHeader + n;  // a frame that cannot be read leaves no block
      }
    }
  }
  const std::size_t dataSize = clusterUsed_ - blockStart_ - kBlockHeader;
  if (dataSize == 0) {
    clusterUsed_ = blockStart_;
    return true;
  }
  // Now that its time is final: the unit opens the cluster, or begins a new
  // one, or joins the one open.
  if (blockStart_ == 0) {
    clusterMs_ = unitMs_;
  } else if (StartsCluster(unitTrack_, unitMs_, unitKey_) && !FlushCluster(blockStart_, unitMs_)) {
    return false;
  }
  const auto relative = static_cast<std::uint16_t>(static_cast<std::int16_t>(unitMs_ - clusterMs_));
  std::uint8_t* b = cluster + blockStart_;
  b[kBlockTimeAt] = static_cast<std::uint8_t>(relative >> 8);
  b[kBlockTimeAt + 1] = static_cast<std::uint8_t>(relative);
  if (videoPresent_ ? (unitKey_ && IsVideo(unitTrack_)) : blockStart_ == 0) RecordCue(unitMs_, unitTrack_, blockStart_);
  const std::uint64_t blockSize = dataSize + (kBlockHeader - 1 - 4);
  if (blockSize <= MaxSizeInWidth(2)) {
    // Small blocks (audio frames) take a two-byte size.
    PutSize(b + kBlockSizeAt, blockSize, 2);
    std::memmove(b + kBlockSizeAt + 2, b + kBlockSizeAt + 4, blockSize);
    clusterUsed_ -= 2;
  } else {
    PutSize(b + kBlockSizeAt, blockSize, 4);
  }
  if (t.lastMs >= 0 && unitMs_ > t.lastMs && (t.stepMs == 0 || unitMs_ - t.lastMs < t.stepMs)) {
    t.stepMs = unitMs_ - t.lastMs;
  }
  t.lastMs = unitMs_;
  t.maxMs = std::max(t.maxMs, unitMs_);
  t.minMs = std::min(t.minMs, unitMs_);
  return true;
}

bool MatroskaMuxer::WriteUnit(std::uint32_t track, std::int64_t pts, bool key, std::span<const std::uint8_t> bytes) {
  return BeginUnit(track, pts, key) && WriteUnitBytes(bytes) && EndUnit();
}

void MatroskaMuxer::LearnFromUnit(TrackState& t, std::span<const std::uint8_t> unit) {
  TrackSetup& s = t.setup;
  switch (s.codec) {
    case TrackCodec::Mpeg2Video:
      if (s.video.width == 0) {
        if (const auto f = ReadMpeg2Sequence(unit)) s.video = *f;
      }
      if (s.codecPrivateSize == 0) s.SetPrivate(Mpeg2SequenceBytes(unit));
      break;
    case TrackCodec::Avc:
    case TrackCodec::Hevc: {
      const bool avc = s.codec == TrackCodec::Avc;
      std::span<const std::uint8_t> vps, sps, pps;
      ForEachNalUnit(unit, [&](std::span<const std::uint8_t> nal) {
        const unsigned type = avc ? H264NalType(nal) : HevcNalType(nal);
        if (avc ? type == 7 : type == 33) sps = sps.empty() ? nal : sps;
        if (avc ? type == 8 : type == 34) pps = pps.empty() ? nal : pps;
        if (!avc && type == 32 && vps.empty()) vps = nal;
      });
      if (sps.empty()) break;
      if (s.codecPrivateSize == 0 || t.privateFromStream) {
        const std::size_t n = avc ? BuildAvcConfig(sps, pps, s.codecPrivate) : BuildHevcConfig(vps, sps, pps, s.codecPrivate);
        if (n != 0) {
          s.codecPrivateSize = static_cast<std::uint16_t>(n);
          t.privateFromStream = true;
        }
      }
      if (s.video.width == 0) {
        if (avc) {
          if (const auto p = ReadAvcSps(sps)) s.video = p->format;
        } else if (const auto p = ReadHevcSps(sps)) {
          s.video = p->format;
        }
      }
      break;
    }
    case TrackCodec::Aac:
      if (s.codecPrivateSize == 0) {
        if (const auto adts = ReadAdtsHeader(unit)) {
          s.codecPrivateSize = static_cast<std::uint16_t>(AscFromAdts(*adts, s.codecPrivate));
        } else {
          s.codecPrivateSize = static_cast<std::uint16_t>(AscFromLatm(unit, s.codecPrivate));
        }
      }
      if (s.sampleRate == 0 && s.codecPrivateSize != 0) {
        const AscSummary a = SummariseAsc({s.codecPrivate.data(), s.codecPrivateSize});
        s.sampleRate = a.sampleRate;
        s.channels = a.channels;
      }
      break;
    case TrackCodec::MpegL1:
    case TrackCodec::MpegL2:
    case TrackCodec::MpegL3:
      if (s.sampleRate == 0) {
        const AudioFormat f = ReadMpegAudioFormat(unit);
        s.sampleRate = f.sampleRate;
        s.channels = f.channels;
      }
      break;
    case TrackCodec::Ac3:
    case TrackCodec::Eac3:
      if (s.sampleRate == 0) {
        const AudioFormat f = ReadAc3Format(unit);
        s.sampleRate = f.sampleRate;
        s.channels = f.channels;
      }
      break;
    default:
      break;
  }
}

namespace {

struct SeekEntries {
  std::uint64_t info = 0;
  std::uint64_t tracks = 0;
  std::uint64_t chapters = 0;  // 0: none (nothing else sits at the Segment's start)
  std::uint64_t cues = 0;
};

void WriteSeekHead(EbmlWriter& w, const SeekEntries& e) {
  const std::size_t start = w.pos();
  const std::size_t head = w.OpenMaster(id::kSeekHead, 1);
  const auto entry = [&w](std::uint32_t element, std::uint64_t pos) {
    const std::size_t seek = w.OpenMaster(id::kSeek, 1);
    w.Binary(id::kSeekId, IdBytes(element));
    w.Uint(id::kSeekPosition, pos, 8);
    w.CloseMaster(seek, 1);
  };
  entry(id::kInfo, e.info);
  entry(id::kTracks, e.tracks);
  if (e.chapters != 0) entry(id::kChapters, e.chapters);
  if (e.cues != 0) entry(id::kCues, e.cues);
  w.CloseMaster(head, 1);
  w.Void(kSeekHeadRoom - (w.pos() - start));
}

}  // namespace

bool MatroskaMuxer::WriteHead() {
  Buffers& b = *buffers_;
  EbmlWriter w(b.head);
  const std::size_t ebml = w.OpenMaster(id::kEbml, 1);
  w.Uint(id::kEbmlVersion, 1);
  w.Uint(id::kEbmlReadVersion, 1);
  w.Uint(id::kEbmlMaxIdLength, 4);
  w.Uint(id::kEbmlMaxSizeLength, 8);
  w.String(id::kDocType, "matroska");
  w.Uint(id::kDocTypeVersion, 4);  // the track's accessibility flags
  w.Uint(id::kDocTypeReadVersion, 2);  // SimpleBlock
  w.CloseMaster(ebml, 1);

  w.Id(id::kSegment);
  b.segmentSizeAt = w.pos();
  w.Size(kUnknownSizeValue8, 8);
  segmentDataStart_ = w.pos();

  b.seekHeadAt = w.pos();
  w.Void(kSeekHeadRoom);  // the entries follow once Tracks' place is known

  b.infoPos = w.pos() - segmentDataStart_;
  const std::size_t info = w.OpenMaster(id::kInfo, 2);
  w.Uint(id::kTimestampScale, 1000000);  // milliseconds
  w.String(id::kMuxingApp, kAppName);
  w.String(id::kWritingApp, kAppName);
  b.durationAt = w.pos();
  w.Void(kDurationRoom);
  w.CloseMaster(info, 2);
  headSize_ = w.pos();

  tracksPos_ = w.pos() - segmentDataStart_;
  const std::size_t tracks = w.OpenMaster(id::kTracks, 4);
  for (std::uint32_t n = 0; n < trackCount_; ++n) {
    const TrackSetup& s = tracks_[n].setup;
    const std::uint32_t type = TrackType(s.codec);
    const std::size_t entry = w.OpenMaster(id::kTrackEntry, 4);
    w.Uint(id::kTrackNumber, n + 1);
    w.Uint(id::kTrackUid, n + 1);
    w.Uint(id::kTrackType, type);
    w.Uint(id::kFlagLacing, 0);
    w.Uint(id::kFlagDefault, s.isDefault ? 1 : 0);
    if (s.forced) w.Uint(id::kFlagForced, 1);
    if (s.hearingImpaired) w.Uint(id::kFlagHearingImpaired, 1);
    if (s.visualImpaired) w.Uint(id::kFlagVisualImpaired, 1);
    std::size_t languageLength = 0;
    while (languageLength < 3 && s.language[languageLength] != '\0') ++languageLength;
    w.String(id::kLanguage, languageLength == 3 ? std::string_view(s.language.data(), 3) : "und");
    w.String(id::kCodecId, CodecId(s.codec));
    if (s.codecPrivateSize != 0) w.Binary(id::kCodecPrivate, {s.codecPrivate.data(), s.codecPrivateSize});
    if (type == kTrackTypeVideo) {
      if (s.video.frameDurationNs != 0) w.Uint(id::kDefaultDuration, s.video.frameDurationNs);
      const std::size_t video = w.OpenMaster(id::kVideo, 1);
      if (s.video.interlaceKnown) w.Uint(id::kFlagInterlaced, s.video.interlaced ? kInterlaced : kProgressive);
      w.Uint(id::kPixelWidth, s.video.width);
      w.Uint(id::kPixelHeight, s.video.height);
      if (s.video.displayWidth != 0 && s.video.displayHeight != 0) {
        w.Uint(id::kDisplayWidth, s.video.displayWidth);
        w.Uint(id::kDisplayHeight, s.video.displayHeight);
      }
      w.CloseMaster(video, 1);
    } else if (type == kTrackTypeAudio) {
      const std::size_t audio = w.OpenMaster(id::kAudio, 1);
      w.Float(id::kSamplingFrequency, s.sampleRate != 0 ? s.sampleRate : 48000);
      w.Uint(id::kChannels, s.channels != 0 ? s.channels : 2);
      w.CloseMaster(audio, 1);
    }
    w.CloseMaster(entry, 4);
  }
  w.CloseMaster(tracks, 4);
  const std::size_t total = w.pos();

  // Now that Tracks has its place, the SeekHead names both.
  w.Rewind(b.seekHeadAt);
  WriteSeekHead(w, {b.infoPos, tracksPos_, 0, 0});
  if (w.overflowed() || total > b.head.size()) {
    failed_ = true;
    return false;
  }
  headWritten_ = true;
  return Emit({b.head.data(), total});
}

bool MatroskaMuxer::FlushCluster(std::size_t keep, std::int64_t nextMs) {
  if (!headWritten_ && !WriteHead()) return false;
  std::uint8_t* body = buffers_->cluster.get();
  if (keep > 0) {
    std::array<std::uint8_t, 32> header{};
    EbmlWriter w(header);
    const auto clusterTime = static_cast<std::uint64_t>(clusterMs_);
    EbmlWriter measure({});
    measure.Uint(id::kTimestamp, clusterTime);
    const std::size_t timeSize = measure.pos();
    w.Id(id::kCluster);
    w.Size(timeSize + keep);
    w.Uint(id::kTimestamp, clusterTime);
    const std::uint64_t clusterPos = written_ - segmentDataStart_;
    if (!Emit(w.written()) || !Emit({body, keep})) return false;

    Cue* cues = buffers_->cues.get();
    for (std::size_t i = firstOpenCue_; i < cueCount_; ++i) {
      if (cues[i].offset < keep) {
        cues[i].clusterPos = clusterPos;
        cues[i].offset += static_cast<std::uint32_t>(timeSize);
        cues[i].placed = true;
        firstOpenCue_ = i + 1;
      } else {
        cues[i].offset -= static_cast<std::uint32_t>(keep);
      }
    }
  }
  const std::size_t rest = clusterUsed_ - keep;
  if (rest > 0) std::memmove(body, body + keep, rest);
  clusterUsed_ = rest;
  blockStart_ = blockStart_ >= keep ? blockStart_ - keep : 0;
  clusterOpen_ = rest > 0;
  if (clusterOpen_) {
    // The unit being built opens the new cluster.
    clusterMs_ = std::max<std::int64_t>(nextMs, 0);
    const auto relative = static_cast<std::uint16_t>(static_cast<std::int16_t>(unitMs_ - clusterMs_));
    body[blockStart_ + kBlockTimeAt] = static_cast<std::uint8_t>(relative >> 8);
    body[blockStart_ + kBlockTimeAt + 1] = static_cast<std::uint8_t>(relative);
  }
  return true;
}

void MatroskaMuxer::AddChapter(std::int64_t pts) {
  if (chapterCount_ < kMaxChapters) chapters_[chapterCount_++] = pts;
}

double MatroskaMuxer::durationMs() const {
  // From the first unit's start to the last one's end, as a reader of the
  // transport stream measures it.
  std::int64_t start = INT64_MAX;
  std::int64_t end = 0;
  for (std::uint32_t n = 0; n < trackCount_; ++n) {
    const TrackState& t = tracks_[n];
    if (t.maxMs < 0) continue;
    const std::uint64_t frameNs = t.setup.video.frameDurationNs;
    const std::int64_t step =
        IsVideo(n) && frameNs != 0 ? static_cast<std::int64_t>((frameNs + 500000) / 1000000) : t.stepMs;
    start = std::min(start, t.minMs);
    end = std::max(end, t.maxMs + step);
  }
  return start < end ? static_cast<double>(end - start) : 0.0;
}

bool MatroskaMuxer::WriteChaptersAndCues(std::uint64_t& chaptersPos, std::uint64_t& cuesPos) {
  // The cluster buffer is free now and holds both.
  std::span<std::uint8_t> room(buffers_->cluster.get(), kClusterBytes);
  chaptersPos = 0;
  cuesPos = 0;
  if (chapterCount_ > 0) {
    std::sort(chapters_.begin(), chapters_.begin() + static_cast<std::ptrdiff_t>(chapterCount_));
    EbmlWriter w(room);
    const std::size_t chapters = w.OpenMaster(id::kChapters, 4);
    const std::size_t edition = w.OpenMaster(id::kEditionEntry, 4);
    w.Uint(id::kEditionUid, 1);
    std::array<char, 32> name{};
    for (std::size_t k = 0; k < chapterCount_; ++k) {
      const std::int64_t ms = ToMs(0, chapters_[k]);
      const std::size_t atom = w.OpenMaster(id::kChapterAtom, 1);
      w.Uint(id::kChapterUid, k + 1);
      w.Uint(id::kChapterTimeStart, static_cast<std::uint64_t>(ms) * 1000000);
      const std::size_t display = w.OpenMaster(id::kChapterDisplay, 1);
      w.String(id::kChapString, ChapterName(ms, name));
      w.CloseMaster(display, 1);
      w.CloseMaster(atom, 1);
    }
    w.CloseMaster(edition, 4);
    w.CloseMaster(chapters, 4);
    chaptersPos = written_ - segmentDataStart_;
    if (w.overflowed() || !Emit(w.written())) return false;
  }
  if (firstOpenCue_ > 0) {
    EbmlWriter w(room);
    const std::size_t cues = w.OpenMaster(id::kCues, 4);
    const Cue* c = buffers_->cues.get();
    for (std::size_t i = 0; i < firstOpenCue_; ++i) {
      const std::size_t point = w.OpenMaster(id::kCuePoint, 1);
      w.Uint(id::kCueTime, c[i].timeMs);
      const std::size_t positions = w.OpenMaster(id::kCueTrackPositions, 1);
      w.Uint(id::kCueTrack, c[i].track);
      w.Uint(id::kCueClusterPosition, c[i].clusterPos);
      w.Uint(id::kCueRelativePosition, c[i].offset);
      w.CloseMaster(positions, 1);
      w.CloseMaster(point, 1);
    }
    w.CloseMaster(cues, 4);
    cuesPos = written_ - segmentDataStart_;
    if (w.overflowed() || !Emit(w.written())) return false;
  }
  return true;
}

bool MatroskaMuxer::Finish() {
  if (failed_) return false;
  if (inUnit_ && !EndUnit()) return false;
  if (clusterOpen_ && !FlushCluster(clusterUsed_, 0)) return false;
  if (!headWritten_ && !WriteHead()) return false;
  std::uint64_t chaptersPos = 0;
  std::uint64_t cuesPos = 0;
  if (!WriteChaptersAndCues(chaptersPos, cuesPos)) return false;

  // The head again, with what only the end knows.
  Buffers& b = *buffers_;
  EbmlWriter w({b.head.data(), headSize_});
  w.Rewind(b.segmentSizeAt);
  w.Size(written_ - segmentDataStart_, 8);
  w.Rewind(b.seekHeadAt);
  WriteSeekHead(w, {b.infoPos, tracksPos_, chaptersPos, cuesPos});
  w.Rewind(b.durationAt);
  w.Float(id::kDuration, durationMs());
  // An output that cannot go back (a pipe) keeps the head as it was: valid,
  // without the index's place and the duration.
  (void)out_.RewriteHead({b.head.data(), headSize_});
  return true;
}

}  // namespace kelvor::mkv
