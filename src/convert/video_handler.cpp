#include "convert/video_handler.h"

#include <algorithm>

#include "convert/conversion_events.h"
#include "convert/h264_sps_timing.h"

namespace kelvor {
namespace {

constexpr std::uint8_t kPictureStart = 0x00;
constexpr std::uint8_t kSequenceHeader = 0xB3;
constexpr std::uint8_t kGroupStart = 0xB8;
constexpr std::uint8_t kExtensionStart = 0xB5;
constexpr std::uint8_t kSequenceExtension = 1;
constexpr std::uint8_t kPictureCodingExtension = 8;
constexpr std::uint8_t kFramePicture = 3;
constexpr std::uint8_t kNalIdrSlice = 5;
constexpr std::uint8_t kNalSlice = 1;
constexpr std::uint8_t kNalDelimiter = 9;
constexpr std::uint8_t kNalFiller = 12;
constexpr std::uint8_t kNalSei = 6;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint8_t kNalPps = 8;
constexpr std::uint8_t kSeiRecoveryPoint = 6;

constexpr std::array<std::uint8_t, 8> kZeros{};

}  // namespace

VideoHandler::VideoHandler(const TrackTable& tracks, StreamTiming& timing, Multiplexer& mux,
                           H264IdrState& idr)
    : tracks_(tracks), timing_(timing), mux_(mux), idr_(idr), capture_(std::max(kCaptureSize, kHoldSize)), early_(kEarlySize) {}

void VideoHandler::Reset() {
  stamp_.Reset();
  stampPlaced_ = false;
  scanner_.Reset();
  videoOutputOn_ = videoTimeSet_ = false;
  endAtPicture_ = false;
  picturesBegun_ = 0;
  h264_.Reset();
  auPending_ = auPtsValid_ = fillerActive_ = false;
  spsLength_ = 0;
  pesDtsValid_ = false;
  capturing_ = captureIdr_ = false;
  captureLength_ = capturedCount_ = 0;
  resync_ = resyncHold_ = dropUnit_ = recoveryPoint_ = false;
  resyncUnits_ = 0;
  delimiterSeen_ = false;
  vclSeen_ = true;
  mpeg2_.Reset();
  holding_ = closeAfterRelease_ = skipping_ = false;
  holdLength_ = 0;
  pesClosedAtHeader_ = false;
  header_ = Header::None;
  headerLength_ = 0;
  frameRateCode_ = 0;
  progressiveSequence_ = false;
  unitHeaderSeen_ = false;
  timeRemoved_ = 0;
  earlyLength_ = earlyPesCount_ = 0;
  earlyKept_ = true;
  replaying_ = false;
}

void VideoHandler::ReadHeader() {
  const auto& h = headerBytes_;
  const Header kind = header_;
  header_ = Header::None;
  if (kind == Header::Sei) {
    recoveryPoint_ |= h[0] == kSeiRecoveryPoint;
    return;
  }
  if (kind == Header::Sequence) {
    frameRateCode_ = h[3] & 0x0F;
    mpeg2_.SetFrameRate(frameRateCode_, 0, 0);
    return;
  }
  switch (h[0] >> 4) {
    case kSequenceExtension:
      progressiveSequence_ = (h[1] & 0x08) != 0;
      mpeg2_.SetFrameRate(frameRateCode_, (h[5] >> 5) & 3, h[5] & 0x1F);
      break;
    case kPictureCodingExtension:
      mpeg2_.PictureDuration(progressiveSequence_, (h[2] & 3) == kFramePicture, (h[3] & 0x80) != 0,
                             (h[3] & 0x02) != 0);
      break;
    default:
      break;
  }
}

void VideoHandler::Interrupted() {
  if (!h264() || !videoOutputOn_ || stopped()) return;
  if (!resync_) resyncUnits_ = 0;
  resync_ = dropUnit_ = true;
  resyncHold_ = false;
}

bool VideoHandler::WriteBytes(std::span<const std::uint8_t> bytes) {
  if (skipping_ || dropUnit_) return true;
  if (resyncHold_) {
    if (bytes.size() > kCaptureSize - captureLength_) {
      resyncHold_ = false;  // too long to hold: the access unit is left out
      dropUnit_ = true;
    } else {
      std::copy(bytes.begin(), bytes.end(), capture_.begin() + captureLength_);
      captureLength_ += static_cast<std::uint32_t>(bytes.size());
    }
    return true;
  }
  if (holding_) {
    if (bytes.size() <= kHoldSize - holdLength_) {
      std::copy(bytes.begin(), bytes.end(), capture_.begin() + holdLength_);
      holdLength_ += static_cast<std::uint32_t>(bytes.size());
      return true;
    }
    // Too large to hold: placed as if none of the pictures before it follows.
    if (!ReleaseHeld(mpeg2_.restartTr())) return false;
  }
  if (videoOutputOn_) return mux_.WriteVideoBytes(bytes);
  if (capturing_) {
    const std::uint32_t limit = captureIdr_ ? static_cast<std::uint32_t>(capture_.size()) : kCaptureSize;
    if (bytes.size() > limit - captureLength_) {
      capturing_ = captureIdr_ = false;  // too long to hold: output starts at a later access unit
    } else {
      std::copy(bytes.begin(), bytes.end(), capture_.begin() + captureLength_);
      captureLength_ += static_cast<std::uint32_t>(bytes.size());
    }
  }
  return true;
}

bool VideoHandler::WriteRun(Piece& p, std::uint32_t end) {
  if (end <= p.runStart) return true;
  const bool ok = WriteBytes(p.bytes.subspan(p.runStart, end - p.runStart));
  p.runStart = end;
  return ok;
}

bool VideoHandler::WritePrefix() { return WriteBytes(std::span(startCodeTemplate_).first(3)); }

bool VideoHandler::WriteWithheld(std::uint32_t count) {
  return count == 0 || WriteBytes(std::span(startCodeTemplate_).first(count));
}

bool VideoHandler::EndHere() {
  if (!endAtPicture_) return false;
  scanner_.Enter(Phase::Stopped);
  return true;
}

void VideoHandler::ApplyOriginMove(std::int32_t d) {
  timing_.startBase += static_cast<std::uint32_t>(d);
  if (timing_.drops != nullptr) timing_.drops->TimeCut(d);
  timeRemoved_ += d;
}

void VideoHandler::FollowMpeg2Timeline() {
  ApplyOriginMove(mpeg2_.TakeOriginMove());
  timing_.videoTime = mpeg2_.videoTime();
  videoTimeSet_ = mpeg2_.timeSet();
}

void VideoHandler::KeepEarly(std::span<const std::uint8_t> piece, const PesStamp* stamp) {
  if (stamp != nullptr) {
    if (earlyPesCount_ == kMaxEarlyPes) {
      earlyKept_ = false;
      return;
    }
    earlyPes_[earlyPesCount_++] = {earlyLength_, *stamp};
  }
  if (earlyPesCount_ == 0) return;  // before the first PES start: nothing to play
  if (piece.size() > kEarlySize - earlyLength_) {
    earlyKept_ = false;
    return;
  }
  std::copy(piece.begin(), piece.end(), early_.begin() + earlyLength_);
  earlyLength_ += static_cast<std::uint32_t>(piece.size());
}

bool VideoHandler::ReplayEarly() {
  // The time origin as it was before any move by this run's time line.
  const std::uint32_t base = timing_.startBase - static_cast<std::uint32_t>(timeRemoved_);
  const std::uint32_t length = earlyLength_;
  const std::uint32_t count = earlyPesCount_;
  // Not when the first stamped picture would come before the start.
  for (std::uint32_t k = 0; k < count; ++k) {
    if (!earlyPes_[k].stamp.ptsValid) continue;
    if (TimeDifference(earlyPes_[k].stamp.pts - base, 0) < 0) return true;
    break;
  }
  Reset();
  timing_.startBase = base;
  replaying_ = true;
  for (std::uint32_t k = 0; k < count && !stopped(); ++k) {
    const std::uint32_t end = k + 1 < count ? earlyPes_[k + 1].offset : length;
    const auto bytes = std::span(early_).subspan(earlyPes_[k].offset, end - earlyPes_[k].offset);
    if (!HandleVideo(bytes, earlyPes_[k].stamp)) return false;
  }
  return FinishLastPicture();
}

VideoStep VideoHandler::HandleVideo(std::span<const std::uint8_t> piece, const PesStamp& stamp) {
  if (!videoOutputOn_ && earlyKept_ && !h264() && !replaying_) KeepEarly(piece, &stamp);
  stamp_.Arrive(stamp);
  fillerActive_ = false;
  pesDtsValid_ = stamp.dtsValid;
  pesDts_ = stamp.dts;
  stampPlaced_ = false;
  const bool written = HandlePiece(piece);
  return {written, stampPlaced_};
}

VideoStep VideoHandler::HandleVideo(std::span<const std::uint8_t> piece) {
  if (!videoOutputOn_ && earlyKept_ && !h264() && !replaying_) KeepEarly(piece, nullptr);
  stampPlaced_ = false;
  const bool written = HandlePiece(piece);
  return {written, stampPlaced_};
}

bool VideoHandler::HandlePiece(std::span<const std::uint8_t> piece) {
  if (stopped()) return true;
  Piece p{piece};
  const auto n = static_cast<std::uint32_t>(piece.size());
  while (p.pos < n) {
    // Between start codes the bytes pass through untouched: skip to the
    // next place where a start code may begin.
    if (scanner_.phase() == Phase::Z0 && header_ == Header::None) {
      p.pos = static_cast<std::uint32_t>(StartCodeScanner::NextZeroPair(piece.data(), p.pos, n));
      if (p.pos == n) break;
    }
    const std::uint8_t b = piece[p.pos++];
    if (header_ == Header::Sps) {
      sps_[spsLength_++] = b;
      if (spsLength_ == sps_.size()) ReadSps();
    } else if (header_ != Header::None) {
      headerBytes_[headerLength_++] = b;
      if (headerLength_ == (header_ == Header::Sei ? 1u : headerBytes_.size())) ReadHeader();
    }
    switch (scanner_.phase()) {
      case Phase::Z0:
      case Phase::Z1:
      case Phase::Z2:
        if (!WriteBytes(std::span(kZeros).first(scanner_.Scan(b, CurrentStamp())))) return false;
        if (scanner_.phase() == Phase::SC) fillerActive_ = false;
        break;
      case Phase::SC:
        if (!StartCode(p, b, scanner_.straddling())) return false;
        if (stopped()) return true;
        break;
      case Phase::P1:
        if (h264()) {
          if (!H264SliceStart(p, b)) return false;
          if (stopped()) return true;
          break;
        }
        startCodeTemplate_[4] = b;
        p.runStart = p.pos;
        scanner_.Enter(Phase::P2);
        break;
      case Phase::P2:
        startCodeTemplate_[5] = b;
        if (!Mpeg2Picture(p)) return false;
        if (stopped()) return true;
        break;
      case Phase::Stopped:
        return true;
    }
  }

  std::uint32_t end = RunEnd(p);
  if (scanner_.phase() == Phase::P1 || scanner_.phase() == Phase::P2) end = p.runStart;
  // Filler data is cut at its header; only what shares a piece with the
  // next start code survives.
  if (h264() && fillerActive_) end = std::max(p.runStart, std::min(end, p.cutEnd));
  if (!WriteRun(p, end)) return false;
  scanner_.EndPiece();
  return true;
}

bool VideoHandler::StartCode(Piece& p, std::uint8_t value, bool straddling) {
  return h264() ? H264StartCode(p, value, straddling)
                             : Mpeg2StartCode(p, value, straddling);
}

bool VideoHandler::Mpeg2StartCode(Piece& p, std::uint8_t value, bool straddling) {
  const std::uint32_t v = p.pos - 1;  // the value byte
  const bool ts = mux_.layout().isTransportStream();
  scanner_.Consume();
  scanner_.Enter(Phase::Z0);
  if (value == kSequenceHeader || value == kExtensionStart) {
    header_ = value == kSequenceHeader ? Header::Sequence : Header::Extension;
    headerLength_ = 0;
  }
  // A stop never falls between the two fields of a frame.
  const bool boundary = (value == kPictureStart && !mpeg2_.secondFieldNext()) || value == kSequenceHeader ||
                        value == kGroupStart;
  if (straddling) {
    if (boundary && EndHere()) return true;
    if (value == kPictureStart) {
      // A second field goes where its first field went.
      if (!mpeg2_.secondFieldNext()) skipping_ = false;
      unitHeaderSeen_ = false;
      p.runStart = p.pos;
      scanner_.Enter(Phase::P1);
      return true;
    }
    if (value == kSequenceHeader || value == kGroupStart) {
      // A left-out picture ends here; a held one has no leading pictures.
      skipping_ = false;
      if (holding_ && !ReleaseHeld(mpeg2_.restartTr())) return false;
    }
    if (value == kSequenceHeader && !videoOutputOn_) videoOutputOn_ = videoTimeSet_ || replaying_;
    if (value == kGroupStart) {
      mpeg2_.CloseGop();
      FollowMpeg2Timeline();
    }
    if ((value == kSequenceHeader || value == kGroupStart) && !StartVideoUnit()) return false;
    p.runStart = v;
    return WritePrefix();
  }

  const std::uint32_t prefixStart = v - 3;
  if (boundary && endAtPicture_) {
    // The picture before ends here: it goes out whole, nothing after it.
    if (videoOutputOn_ && !WriteRun(p, prefixStart)) return false;
    return EndHere();
  }
  if (value == kPictureStart) {
    unitHeaderSeen_ = false;
    // A second field stays in its first field's PES packet, and goes where
    // the first field went (left out, held or written).
    const bool secondField = mpeg2_.secondFieldNext();
    if (videoOutputOn_) {
      if (!WriteRun(p, prefixStart)) return false;
      if (!secondField) skipping_ = false;
      if (ts && !pesClosedAtHeader_ && !secondField) {
        // The held picture's PES packet is closed once it is written.
        if (holding_) {
          closeAfterRelease_ = true;
        } else if (!mux_.EndVideoPes()) {
          return false;
        }
      }
      pesClosedAtHeader_ = false;
    }
    p.runStart = p.pos;
    scanner_.Enter(Phase::P1);
    return true;
  }
  if (value == kSequenceHeader || value == kGroupStart) {
    if (skipping_ || holding_) {
      // The picture before ends here: a left-out one is done, a held one has
      // no leading pictures.
      if (!WriteRun(p, prefixStart)) return false;
      skipping_ = false;
      if (holding_ && !ReleaseHeld(mpeg2_.restartTr())) return false;
    }
    if (value == kGroupStart) {
      mpeg2_.CloseGop();
      FollowMpeg2Timeline();
    }
    if (value == kSequenceHeader && !videoOutputOn_) {
      // Output begins here once the time line is anchored; nothing earlier.
      videoOutputOn_ = videoTimeSet_ || replaying_;
    } else if (videoOutputOn_) {
      if (!WriteRun(p, prefixStart)) return false;
      if (ts && (value == kSequenceHeader || !pesClosedAtHeader_)) {
        if (!mux_.EndVideoPes()) return false;
        pesClosedAtHeader_ = true;
      }
    }
    if (!StartVideoUnit()) return false;
    p.runStart = v;
    return WritePrefix();
  }
  return true;  // 00 00 01 and the value join the run
}

bool VideoHandler::StartVideoUnit() {
  // A GOP header right after a sequence header belongs to its unit.
  const bool first = videoOutputOn_ && !unitHeaderSeen_;
  unitHeaderSeen_ = videoOutputOn_;
  return !first || mux_.StartVideoUnit();
}

bool VideoHandler::ReleaseHeld(std::uint32_t firstLeading) {
  holding_ = false;
  const std::uint32_t pts = mpeg2_.Release(firstLeading);
  FollowMpeg2Timeline();
  if (!mux_.VideoPtsPlaced() && !mux_.PlaceVideoPts(pts)) return false;
  const std::uint32_t length = holdLength_;
  holdLength_ = 0;
  if (!mux_.WriteVideoBytes(std::span(capture_).first(length))) return false;
  if (!closeAfterRelease_) return true;
  closeAfterRelease_ = false;
  return mux_.EndVideoPes();
}

bool VideoHandler::Finish() {
  // H.264: the input ended while the access units from an IDR before the
  // first audio time stamp were held; once that stamp came, they go out.
  if (captureIdr_ && timing_.startFound && !StartOutputAtCapturedIdr()) return false;
  // MPEG-2: no sequence header came after the anchor (a recording of about
  // one group of pictures); its input is played again from the start.
  if (!h264() && !videoOutputOn_ && timing_.startFound && earlyKept_ && earlyLength_ > 0 &&
      !stopped() && !endAtPicture_) {
    return ReplayEarly();
  }
  return FinishLastPicture();
}

bool VideoHandler::FinishLastPicture() {
  // MPEG-2: zeros withheld at the end of the input, as the possible start
  // of a start code, are the last slice's data; without them it is cut short.
  if (!h264() && !stopped()) {
    const Phase phase = scanner_.phase();
    const std::size_t zeros = phase == Phase::Z1 ? 1 : phase == Phase::Z2 ? 2 : 0;
    if (zeros > 0 && !WriteBytes(std::span(kZeros).first(zeros))) return false;
  }
  return !holding_ || ReleaseHeld(mpeg2_.restartTr());
}

bool VideoHandler::Mpeg2Picture(Piece& p) {
  const std::uint32_t tr = (static_cast<std::uint32_t>(startCodeTemplate_[4]) << 2) |
                           (startCodeTemplate_[5] >> 6);
  const std::uint32_t type = (startCodeTemplate_[5] >> 3) & 7;
  scanner_.Enter(Phase::Z0);
  p.runStart = p.pos;
  const StartCodeScanner::Stamp at = scanner_.startCodeStamp();
  const bool timed = at.valid && timing_.startFound;
  if (mpeg2_.secondFieldNext()) {
    if (mpeg2_.SecondField(tr)) {
      // The frame's second field: no place and no time stamp of its own.
      if (timed) TakeStamp();
      return !videoOutputOn_ || WriteBytes(startCodeTemplate_);
    }
    skipping_ = false;  // the first field lost its partner: a picture of its own
  }
  if (holding_) {
    // The picture after the held one: shown before it and in step with it,
    // it is the first of the held picture's leading pictures that arrive.
    const bool leading = mpeg2_.IsLeading(tr, timed, at.pts - timing_.startBase);
    if (!ReleaseHeld(leading ? tr : mpeg2_.restartTr())) return false;
  }
  if (timed) TakeStamp();
  const Mpeg2Timeline::Placement placed = mpeg2_.Picture(tr, type, timed, at.pts - timing_.startBase);
  if (placed.fate == Mpeg2Timeline::Fate::Stop) {
    if (timing_.drops != nullptr) timing_.drops->Jump();
    scanner_.Enter(Phase::Stopped);
    return true;
  }
  FollowMpeg2Timeline();
  if (!videoOutputOn_) return true;
  switch (placed.fate) {
    case Mpeg2Timeline::Fate::Skip:
      if (timing_.drops != nullptr) timing_.drops->PictureSkipped();
      skipping_ = true;
      return true;
    case Mpeg2Timeline::Fate::Hold:
      CountPicture();
      holding_ = true;
      holdLength_ = 0;
      closeAfterRelease_ = false;
      return WriteBytes(startCodeTemplate_);
    default:
      if (!mux_.VideoPtsPlaced() && !mux_.PlaceVideoPts(placed.pts)) return false;
      CountPicture();
      return WriteBytes(startCodeTemplate_);
  }
}

bool VideoHandler::H264StartCode(Piece& p, std::uint8_t value, bool straddling) {
  const std::uint32_t v = p.pos - 1;
  const std::uint8_t type = value & 0x1F;
  if (header_ == Header::Sps) ReadSps();  // it ended here
  scanner_.Consume();
  scanner_.Enter(Phase::Z0);
  if (type == kNalDelimiter) {
    delimiterSeen_ = true;
    return H264Delimiter(p, straddling ? 3 : 0);
  }
  const bool slice = type == kNalIdrSlice || type == kNalSlice;
  if (!delimiterSeen_ && vclSeen_) {
    // A stream without delimiters: the access unit begins at the first
    // parameter set or SEI after a picture's slices, or at a slice that
    // begins a picture.
    if (slice) {
      // Whether the slice begins a picture shows in its next byte; until
      // then the prefix and the NAL header byte wait in the template.
      if (!straddling && !WriteRun(p, v - 3)) return false;
      startCodeTemplate_[3] = value;
      p.runStart = p.pos;
      scanner_.Enter(Phase::P1);
      return true;
    }
    if (type == kNalSei || type == kNalSps || type == kNalPps || (type >= 14 && type <= 18)) {
      vclSeen_ = false;
      if (!H264Delimiter(p, straddling ? 3 : 0)) return false;
      return stopped() || H264Nal(type);
    }
  }
  if (straddling) {
    p.runStart = v;
    if (!WritePrefix()) return false;
  }
  if (type == kNalFiller) {
    p.cutEnd = p.pos;
    fillerActive_ = true;
  }
  return H264Nal(type);
}

bool VideoHandler::H264SliceStart(Piece& p, std::uint8_t b) {
  scanner_.Enter(Phase::Z0);
  const std::uint8_t type = startCodeTemplate_[3] & 0x1F;
  // first_mb_in_slice, the slice header's first field (ue(v)), is 0 when
  // the byte after the NAL header begins with a 1 bit. That byte cannot be
  // an emulation prevention byte: the header byte before it is not zero.
  if ((b & 0x80) != 0) {
    if (!H264Delimiter(p, 4)) return false;
    if (stopped()) return true;
  } else {
    if (!WriteBytes(std::span(startCodeTemplate_).first(4))) return false;
    p.runStart = p.pos - 1;
    // A zero here may begin the next start code.
    if (b == 0) scanner_.Scan(b, CurrentStamp());
  }
  return H264Nal(type);
}

bool VideoHandler::H264Nal(std::uint8_t type) {
  if (type == kNalSei) {
    header_ = Header::Sei;
    headerLength_ = 0;
  }
  if (type == kNalSps) {
    header_ = Header::Sps;
    spsLength_ = 0;
  }
  if (type == kNalIdrSlice || type == kNalSlice) {
    vclSeen_ = true;
    const bool first = auPending_;
    if (first && resyncHold_ && !ResumeAtSlice(type == kNalIdrSlice)) return false;
    H264Slice(type == kNalIdrSlice);
    if (capturing_ && first && !timing_.startFound && capturedCount_ == 1) {
      // Before the start: only an IDR access unit is worth holding on.
      captureIdr_ = type == kNalIdrSlice;
      capturing_ = captureIdr_;
    } else if (capturing_ && !captureIdr_ && !StartOutputAtSlice()) {
      return false;
    }
  }
  return true;
}

bool VideoHandler::H264Delimiter(Piece& p, std::uint32_t withheld) {
  const std::uint32_t v = p.pos - 1;
  const bool straddling = withheld > 0;
  if (endAtPicture_) {
    // The access unit before ends here: it goes out whole, nothing after it.
    if (!straddling && videoOutputOn_ && !WriteRun(p, v - 3)) return false;
    return EndHere();
  }
  const StartCodeScanner::Stamp at = scanner_.startCodeStamp();
  auPts_ = at.pts;
  auPtsValid_ = at.valid;
  TakeStamp();
  if (straddling) {
    p.runStart = v;
  } else {
    if ((videoOutputOn_ || captureIdr_) && !WriteRun(p, v - 3)) return false;
    p.runStart = v - 3;
  }
  H264CheckDecodeTime();
  recoveryPoint_ = false;
  if (resync_ && videoOutputOn_) {
    // After lost packets every access unit is held until its first slice
    // shows whether decoding can start again there.
    dropUnit_ = false;
    resyncHold_ = true;
    captureLength_ = 0;
    ++resyncUnits_;
    if (!WriteWithheld(withheld)) return false;
    auPending_ = true;
    return true;
  }
  if (captureIdr_) {
    if (timing_.startFound) {
      if (!StartOutputAtCapturedIdr()) return false;
    } else if (capturedCount_ < kMaxCapturedUnits) {
      capturedUnits_[capturedCount_++] = {captureLength_, auPts_, auPtsValid_};
    } else {
      capturing_ = captureIdr_ = false;
    }
  }

  if (videoOutputOn_) {
    if (!mux_.layout().isTransportStream()) {
      if (auPtsValid_ && !mux_.PadPackBeforeTimedUnit()) return false;
    } else if (!mux_.EndVideoPes()) {
      return false;
    }
  }
  if (auPtsValid_ && timing_.startFound) videoOutputOn_ = videoTimeSet_;
  if (videoOutputOn_) CountPicture();
  // Before output begins, a timed access unit is held until its first slice
  // (before the start is found: an IDR one, and those after it).
  if (!captureIdr_) {
    capturing_ = !videoOutputOn_ && auPtsValid_;
    captureLength_ = 0;
    capturedUnits_[0] = {0, auPts_, auPtsValid_};
    capturedCount_ = 1;
  }
  if (videoOutputOn_ && !mux_.VideoPtsPlaced()) {
    if (auPtsValid_ && !mux_.PlaceVideoPts(auPts_ - timing_.startBase)) return false;
    mux_.KeepVideoPesUntimed();  // later access units of this packet carry none
  }
  if (!WriteWithheld(withheld)) return false;
  auPending_ = true;
  return true;
}

bool VideoHandler::StartOutputAtSlice() {
  capturing_ = false;
  if (!videoTimeSet_) return true;  // not anchored here: the held bytes are dropped
  // Writing from the anchoring access unit keeps its parameter sets and
  // picture, which every later picture may depend on.
  videoOutputOn_ = true;
  CountPicture();
  if (!mux_.PlaceVideoPts(auPts_ - timing_.startBase)) return false;
  return mux_.WriteVideoBytes(std::span(capture_).first(captureLength_));
}

bool VideoHandler::ResumeAtSlice(bool idr) {
  resyncHold_ = false;
  if (!idr && !recoveryPoint_ && resyncUnits_ <= kMaxResyncUnits) {
    dropUnit_ = true;  // may lean on lost pictures: left out
    return true;
  }
  resync_ = false;
  resyncUnits_ = 0;
  // What the delimiter of a written access unit does, then its held head.
  if (mux_.layout().isTransportStream() ? !mux_.EndVideoPes()
                                        : auPtsValid_ && !mux_.PadPackBeforeTimedUnit()) {
    return false;
  }
  if (!mux_.VideoPtsPlaced()) {
    if (auPtsValid_ && !mux_.PlaceVideoPts(auPts_ - timing_.startBase)) return false;
    mux_.KeepVideoPesUntimed();
  }
  return mux_.WriteVideoBytes(std::span(capture_).first(captureLength_));
}

bool VideoHandler::StartOutputAtCapturedIdr() {
  capturing_ = captureIdr_ = false;
  const std::uint32_t idrTime = capturedUnits_[0].pts - timing_.startBase;
  if (TimeDifference(idrTime, 0) < 0) return true;  // before the start: a later IDR anchors
  videoTimeSet_ = true;
  timing_.videoTime = idrTime;
  videoOutputOn_ = true;
  // Each held access unit as the delimiter of a written one would place it.
  const bool ts = mux_.layout().isTransportStream();
  for (std::uint32_t k = 0; k < capturedCount_; ++k) {
    const CapturedUnit& unit = capturedUnits_[k];
    if (k > 0) {
      if (ts ? !mux_.EndVideoPes() : unit.ptsValid && !mux_.PadPackBeforeTimedUnit()) return false;
    }
    if (!mux_.VideoPtsPlaced()) {
      if (unit.ptsValid && !mux_.PlaceVideoPts(unit.pts - timing_.startBase)) return false;
      mux_.KeepVideoPesUntimed();
    }
    CountPicture();
    const std::uint32_t end = k + 1 < capturedCount_ ? capturedUnits_[k + 1].offset : captureLength_;
    if (!mux_.WriteVideoBytes(std::span(capture_).subspan(unit.offset, end - unit.offset))) return false;
  }
  return true;
}

void VideoHandler::H264Slice(bool idr) {
  if (!auPending_) return;
  auPending_ = false;
  const bool timed = auPtsValid_ && timing_.startFound;
  if (idr) {
    idr_.idrSeen = true;
    idr_.sliceCount = 0;
    if (timed) {
      videoTimeSet_ = true;
      timing_.videoTime = auPts_ - timing_.startBase;
    }
    return;
  }
  if (idr_.idrSeen) {
    if (++idr_.sliceCount <= 255) return;
    idr_.idrSeen = false;
  }
  if (!timed) return;
  const std::uint32_t t = auPts_ - timing_.startBase;
  if (!videoTimeSet_) {
    videoTimeSet_ = true;
    timing_.videoTime = t;
  } else if (t > timing_.videoTime) {
    timing_.videoTime = t;
  }
}

void VideoHandler::ReadSps() {
  header_ = Header::None;
  if (const auto timing = ReadSpsTiming(std::span(sps_).first(spsLength_))) {
    h264_.DeclareFrameTicks(timing->FrameTicks());
  }
  spsLength_ = 0;
}

void VideoHandler::H264CheckDecodeTime() {
  if (!auPtsValid_) {
    h264_.Untimed();
    return;
  }
  if (!timing_.startFound) return;
  const std::uint32_t dts = pesDtsValid_ ? pesDts_ : auPts_;
  pesDtsValid_ = false;
  h264_.Timed(dts - timing_.startBase);
  const std::int32_t move = h264_.TakeOriginMove();
  ApplyOriginMove(move);
  // Pictures were lost where no packet was seen missing (a cut that left
  // the continuity counters in step): the access units from here on may
  // lean on them, so output resumes at a random-access point as after lost
  // packets.
  if (move > 0 && videoOutputOn_) {
    if (!resync_) resyncUnits_ = 0;
    resync_ = true;
  }
}

}  // namespace kelvor
