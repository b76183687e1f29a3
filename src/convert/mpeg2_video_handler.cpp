#include "convert/mpeg2_video_handler.h"

#include "convert/conversion_events.h"

namespace kelvor {
namespace {

constexpr std::uint8_t kPictureStart = 0x00;
constexpr std::uint8_t kSequenceHeader = 0xB3;
constexpr std::uint8_t kGroupStart = 0xB8;
constexpr std::uint8_t kExtensionStart = 0xB5;
constexpr std::uint8_t kSequenceExtension = 1;
constexpr std::uint8_t kPictureCodingExtension = 8;
constexpr std::uint8_t kFramePicture = 3;

constexpr std::array<std::uint8_t, 8> kZeros{};

}  // namespace

Mpeg2VideoHandler::Mpeg2VideoHandler(StreamTiming& timing, Multiplexer& mux, VideoStore& store)
    : VideoHandler(timing, mux), hold_(std::span(store).first(kHoldSize)), early_(kEarlySize) {}

void Mpeg2VideoHandler::Reset() {
  VideoHandler::Reset();
  timeline_.Reset();
  holding_ = closeAfterRelease_ = skipping_ = false;
  holdLength_ = 0;
  pesClosedAtHeader_ = false;
  SetHeader(Header::None);
  headerLength_ = 0;
  frameRateCode_ = 0;
  progressiveSequence_ = false;
  unitHeaderSeen_ = false;
  cutJoin_ = CutJoin::None;
  earlyLength_ = earlyPesCount_ = 0;
  earlyKept_ = true;
  replaying_ = false;
}

void Mpeg2VideoHandler::HeaderByte(std::uint8_t b) {
  headerBytes_[headerLength_++] = b;
  if (headerLength_ == headerBytes_.size()) ReadHeader();
}

void Mpeg2VideoHandler::ReadHeader() {
  const auto& h = headerBytes_;
  const Header kind = header_;
  SetHeader(Header::None);
  if (kind == Header::Sequence) {
    frameRateCode_ = h[3] & 0x0F;
    timeline_.SetFrameRate(frameRateCode_, 0, 0);
    return;
  }
  switch (h[0] >> 4) {
    case kSequenceExtension:
      progressiveSequence_ = (h[1] & 0x08) != 0;
      timeline_.SetFrameRate(frameRateCode_, (h[5] >> 5) & 3, h[5] & 0x1F);
      break;
    case kPictureCodingExtension:
      timeline_.PictureDuration(progressiveSequence_, (h[2] & 3) == kFramePicture, (h[3] & 0x80) != 0,
                                (h[3] & 0x02) != 0);
      break;
    default:
      break;
  }
}

bool Mpeg2VideoHandler::WriteBytes(std::span<const std::uint8_t> bytes) {
  if (skipping_) return true;
  if (holding_) {
    if (bytes.size() <= kHoldSize - holdLength_) {
      std::copy(bytes.begin(), bytes.end(), hold_.begin() + holdLength_);
      holdLength_ += static_cast<std::uint32_t>(bytes.size());
      return true;
    }
    // Too large to hold: placed as if none of the pictures before it follows.
    if (!ReleaseHeld(timeline_.restartTr())) return false;
  }
  return !videoOutputOn_ || mux_.WriteVideoBytes(bytes);
}

void Mpeg2VideoHandler::FollowTimeline() {
  ApplyOriginMove(timeline_.TakeOriginMove());
  timing_.videoTime = timeline_.videoTime();
  videoTimeSet_ = timeline_.timeSet();
}

void Mpeg2VideoHandler::BeforePiece(std::span<const std::uint8_t> piece, const PesStamp* stamp) {
  if (videoOutputOn_ || !earlyKept_ || replaying_) return;
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

bool Mpeg2VideoHandler::ReplayEarly() {
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

bool Mpeg2VideoHandler::PayloadByte(Piece& p, std::uint8_t b) {
  if (scanner_.phase() == Phase::P1) {
    startCodeTemplate_[4] = b;
    p.runStart = p.pos;
    scanner_.Enter(Phase::P2);
    return true;
  }
  startCodeTemplate_[5] = b;
  return Picture(p);
}

bool Mpeg2VideoHandler::StartCode(Piece& p, std::uint8_t value, bool straddling) {
  const std::uint32_t v = p.pos - 1;  // the value byte
  const bool ts = mux_.layout().isTransportStream();
  scanner_.Consume();
  scanner_.Enter(Phase::Z0);
  if (value == kSequenceHeader || value == kExtensionStart) {
    SetHeader(value == kSequenceHeader ? Header::Sequence : Header::Extension);
    headerLength_ = 0;
  }
  // A stop never falls between the two fields of a frame.
  const bool boundary = (value == kPictureStart && !timeline_.secondFieldNext()) || value == kSequenceHeader ||
                        value == kGroupStart;
  if (straddling) {
    if (boundary && EndHere()) return true;
    if (value == kPictureStart) {
      // A second field goes where its first field went.
      if (!timeline_.secondFieldNext()) skipping_ = false;
      unitHeaderSeen_ = false;
      p.runStart = p.pos;
      scanner_.Enter(Phase::P1);
      return true;
    }
    if (value == kSequenceHeader || value == kGroupStart) {
      // A left-out picture ends here; a held one has no leading pictures.
      skipping_ = false;
      if (holding_ && !ReleaseHeld(timeline_.restartTr())) return false;
    }
    if (value == kSequenceHeader && !videoOutputOn_) videoOutputOn_ = videoTimeSet_ || replaying_;
    if (value == kGroupStart) {
      timeline_.CloseGop();
      FollowTimeline();
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
    const bool secondField = timeline_.secondFieldNext();
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
      if (holding_ && !ReleaseHeld(timeline_.restartTr())) return false;
    }
    if (value == kGroupStart) {
      timeline_.CloseGop();
      FollowTimeline();
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

bool Mpeg2VideoHandler::StartVideoUnit() {
  // A GOP header right after a sequence header belongs to its unit.
  const bool first = videoOutputOn_ && !unitHeaderSeen_;
  unitHeaderSeen_ = videoOutputOn_;
  return !first || mux_.StartVideoUnit();
}

bool Mpeg2VideoHandler::ReleaseHeld(std::uint32_t firstLeading) {
  holding_ = false;
  const std::uint32_t pts = timeline_.Release(firstLeading);
  FollowTimeline();
  if (!mux_.VideoPtsPlaced() && !mux_.PlaceVideoPts(pts)) return false;
  const std::uint32_t length = holdLength_;
  holdLength_ = 0;
  if (!mux_.WriteVideoBytes(std::span(hold_).first(length))) return false;
  if (!closeAfterRelease_) return true;
  closeAfterRelease_ = false;
  return mux_.EndVideoPes();
}

bool Mpeg2VideoHandler::Finish() {
  // No sequence header came after the anchor (a recording of about one
  // group of pictures); its input is played again from the start.
  if (!videoOutputOn_ && timing_.startFound && earlyKept_ && earlyLength_ > 0 && !stopped() && !endAtPicture_) {
    return ReplayEarly();
  }
  return FinishLastPicture();
}

bool Mpeg2VideoHandler::FinishLastPicture() {
  // Zeros withheld at the end of the input, as the possible start of a
  // start code, are the last slice's data; without them it is cut short.
  if (!stopped()) {
    const Phase phase = scanner_.phase();
    const std::size_t zeros = phase == Phase::Z1 ? 1 : phase == Phase::Z2 ? 2 : 0;
    if (zeros > 0 && !WriteBytes(std::span(kZeros).first(zeros))) return false;
  }
  return !holding_ || ReleaseHeld(timeline_.restartTr());
}

bool Mpeg2VideoHandler::Picture(Piece& p) {
  const std::uint32_t tr = (static_cast<std::uint32_t>(startCodeTemplate_[4]) << 2) |
                           (startCodeTemplate_[5] >> 6);
  const std::uint32_t type = (startCodeTemplate_[5] >> 3) & 7;
  scanner_.Enter(Phase::Z0);
  p.runStart = p.pos;
  const StartCodeScanner::Stamp at = scanner_.startCodeStamp();
  const bool timed = at.valid && timing_.startFound;
  if (timeline_.secondFieldNext()) {
    if (timeline_.SecondField(tr)) {
      // The frame's second field: no place and no time stamp of its own.
      if (timed) TakeStamp();
      return !videoOutputOn_ || WriteBytes(startCodeTemplate_);
    }
    skipping_ = false;  // the first field lost its partner: a picture of its own
  }
  if (cutJoin_ != CutJoin::None) {
    // Before the time line sees them, so that the held picture after the
    // cut takes none of their places.
    if (type == Mpeg2Timeline::kBPicture && cutJoin_ == CutJoin::Leading) {
      if (timed) TakeStamp();
      skipping_ = true;
      return true;
    }
    if (type != Mpeg2Timeline::kBPicture) cutJoin_ = cutJoin_ == CutJoin::Waiting ? CutJoin::Leading : CutJoin::None;
  }
  if (holding_) {
    // The picture after the held one: shown before it and in step with it,
    // it is the first of the held picture's leading pictures that arrive.
    const bool leading = timeline_.IsLeading(tr, timed, at.pts - timing_.startBase);
    if (!ReleaseHeld(leading ? tr : timeline_.restartTr())) return false;
  }
  if (timed) TakeStamp();
  const Mpeg2Timeline::Placement placed = timeline_.Picture(tr, type, timed, at.pts - timing_.startBase);
  if (placed.fate == Mpeg2Timeline::Fate::Stop) {
    if (timing_.drops != nullptr) timing_.drops->Jump();
    scanner_.Enter(Phase::Stopped);
    return true;
  }
  FollowTimeline();
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

}  // namespace kelvor
