#include "convert/video_handler.h"

#include <algorithm>
#include <bit>

namespace kelvor {
namespace {

constexpr std::uint8_t kPictureStart = 0x00;
constexpr std::uint8_t kSequenceHeader = 0xB3;
constexpr std::uint8_t kGroupStart = 0xB8;
constexpr std::uint8_t kNalIdrSlice = 5;
constexpr std::uint8_t kNalSlice = 1;
constexpr std::uint8_t kNalDelimiter = 9;
constexpr std::uint8_t kNalFiller = 12;
constexpr std::uint32_t kIPicture = 1;
constexpr std::uint32_t kPPicture = 2;
constexpr std::uint32_t kBPicture = 3;

// The lowest `n` bits set.
constexpr std::uint64_t LowBits(std::uint32_t n) { return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1; }
// Bits moved `n` places down (n < 0: up); what leaves the word is gone.
constexpr std::uint64_t ShiftDown(std::uint64_t bits, std::int64_t n) {
  if (n >= 64 || n <= -64) return 0;
  return n >= 0 ? bits >> n : bits << -n;
}

constexpr std::array<std::uint8_t, 8> kZeros{};

}  // namespace

VideoHandler::VideoHandler(const TrackTable& tracks, StreamTiming& timing, Multiplexer& mux,
                           H264IdrState& idr)
    : tracks_(tracks), timing_(timing), mux_(mux), idr_(idr), capture_(std::max(kCaptureSize, kHoldSize)) {}

void VideoHandler::Reset() {
  stamp_.Reset();
  stampPlaced_ = false;
  phase_ = Phase::Z0;
  held_ = heldOutside_ = 0;
  startCodePtsValid_ = zeroPtsValid_ = false;
  videoOutputOn_ = videoTimeSet_ = false;
  auPending_ = auPtsValid_ = fillerActive_ = false;
  pesDtsValid_ = decodeTimeSet_ = false;
  lastDecodeTime_ = frameTicks_ = untimedUnits_ = 0;
  capturing_ = false;
  captureLength_ = 0;
  gopPictureCount_ = gopSpan_ = 0;
  gopSlots_ = 0;
  restartTr_ = 0;
  priorSlots_ = 0;
  holding_ = closeAfterRelease_ = skipping_ = false;
  holdLength_ = 0;
  anchorSeen_ = shownSet_ = false;
  anchorTime_ = shownTime_ = 0;
  pesClosedAtHeader_ = false;
  unitHeaderSeen_ = false;
  timeRemoved_ = 0;
}

bool VideoHandler::writeBytes(std::span<const std::uint8_t> bytes) {
  if (skipping_) return true;
  if (holding_) {
    if (bytes.size() <= kHoldSize - holdLength_) {
      std::copy(bytes.begin(), bytes.end(), capture_.begin() + holdLength_);
      holdLength_ += static_cast<std::uint32_t>(bytes.size());
      return true;
    }
    // Too large to hold: placed as if none of the pictures before it follows.
    if (!releaseHeld(restartTr_)) return false;
  }
  if (videoOutputOn_) return mux_.WriteVideoBytes(bytes);
  if (capturing_) {
    if (bytes.size() > kCaptureSize - captureLength_) {
      capturing_ = false;  // too long to hold: output starts at a later access unit
    } else {
      std::copy(bytes.begin(), bytes.end(), capture_.begin() + captureLength_);
      captureLength_ += static_cast<std::uint32_t>(bytes.size());
    }
  }
  return true;
}

bool VideoHandler::writeRun(Piece& p, std::uint32_t end) {
  if (end <= p.runStart) return true;
  const bool ok = writeBytes(p.bytes.subspan(p.runStart, end - p.runStart));
  p.runStart = end;
  return ok;
}

bool VideoHandler::writePrefix() {
  return writeBytes(std::span(startCodeTemplate_).first(3));
}

bool VideoHandler::release(std::uint32_t count) {
  // Withheld bytes from earlier pieces are the oldest; they are zeros, and
  // nothing of this piece has joined the run before them.
  const std::uint32_t outside = std::min(count, heldOutside_);
  heldOutside_ -= outside;
  held_ -= count;
  return writeBytes(std::span(kZeros).first(outside));
}


void VideoHandler::moveStartBase(std::int32_t d) {
  timing_.startBase += static_cast<std::uint32_t>(d);
  timeRemoved_ += d;
}

VideoStep VideoHandler::HandleVideo(std::span<const std::uint8_t> piece, const PesStamp& stamp) {
  stamp_.Arrive(stamp);
  fillerActive_ = false;
  pesDtsValid_ = stamp.dtsValid;
  pesDts_ = stamp.dts;
  return HandleVideo(piece);
}

VideoStep VideoHandler::HandleVideo(std::span<const std::uint8_t> piece) {
  stampPlaced_ = false;
  const bool written = handlePiece(piece);
  return {written, stampPlaced_};
}

bool VideoHandler::handlePiece(std::span<const std::uint8_t> piece) {
  if (phase_ == Phase::Stopped) return true;
  Piece p{piece};
  const auto n = static_cast<std::uint32_t>(piece.size());
  while (p.pos < n) {
    const std::uint8_t b = piece[p.pos++];
    switch (phase_) {
      case Phase::Z0:
        if (b == 0) {
          currentPts(startCodePts_, startCodePtsValid_);
          held_ = 1;
          heldOutside_ = 0;
          phase_ = Phase::Z1;
        }
        break;
      case Phase::Z1:
        if (b == 0) {
          currentPts(zeroPts_, zeroPtsValid_);
          held_ = 2;
          phase_ = Phase::Z2;
        } else {
          if (!release(held_)) return false;
          phase_ = Phase::Z0;
        }
        break;
      case Phase::Z2:
        if (b == 0) {
          // More than two zeros: the oldest belongs to the data before.
          if (!release(1)) return false;
          ++held_;
          startCodePts_ = zeroPts_;
          startCodePtsValid_ = zeroPtsValid_;
          currentPts(zeroPts_, zeroPtsValid_);
        } else if (b == 1) {
          held_ = 3;
          fillerActive_ = false;
          phase_ = Phase::SC;
        } else {
          if (!release(held_)) return false;
          phase_ = Phase::Z0;
        }
        break;
      case Phase::SC: {
        const bool straddling = heldOutside_ > 0;
        if (!startCode(p, b, straddling)) return false;
        if (phase_ == Phase::Stopped) return true;
        break;
      }
      case Phase::P1:
        startCodeTemplate_[4] = b;
        p.runStart = p.pos;
        phase_ = Phase::P2;
        break;
      case Phase::P2:
        startCodeTemplate_[5] = b;
        if (!mpeg2Picture(p)) return false;
        if (phase_ == Phase::Stopped) return true;
        break;
      case Phase::Stopped:
        return true;
    }
  }

  std::uint32_t end = runEnd(p);
  if (phase_ == Phase::P1 || phase_ == Phase::P2) end = p.runStart;
  // Filler data is cut at its header; only what shares a piece with the
  // next start code survives.
  if (tracks_.videoIsH264 && fillerActive_) end = std::max(p.runStart, std::min(end, p.cutEnd));
  if (!writeRun(p, end)) return false;
  heldOutside_ = held_;
  return true;
}

bool VideoHandler::startCode(Piece& p, std::uint8_t value, bool straddling) {
  return tracks_.videoIsH264 ? h264StartCode(p, value, straddling)
                             : mpeg2StartCode(p, value, straddling);
}

bool VideoHandler::mpeg2StartCode(Piece& p, std::uint8_t value, bool straddling) {
  const std::uint32_t v = p.pos - 1;  // the value byte
  const bool ts = mux_.layout().isTransportStream();
  phase_ = Phase::Z0;
  if (straddling) {
    held_ = heldOutside_ = 0;
    if (value == kPictureStart) {
      skipping_ = false;
      unitHeaderSeen_ = false;
      p.runStart = p.pos;
      phase_ = Phase::P1;
      return true;
    }
    if (value == kSequenceHeader || value == kGroupStart) {
      // A left-out picture ends here; a held one has no leading pictures.
      skipping_ = false;
      if (holding_ && !releaseHeld(restartTr_)) return false;
    }
    if (value == kSequenceHeader && !videoOutputOn_) videoOutputOn_ = videoTimeSet_;
    if (value == kGroupStart && videoTimeSet_) closeGop();
    if ((value == kSequenceHeader || value == kGroupStart) && !startVideoUnit()) return false;
    p.runStart = v;
    return writePrefix();
  }

  const std::uint32_t prefixStart = v - 3;
  if (value == kPictureStart) {
    held_ = 0;
    unitHeaderSeen_ = false;
    if (videoOutputOn_) {
      if (!writeRun(p, prefixStart)) return false;
      skipping_ = false;
      if (ts && !pesClosedAtHeader_) {
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
    phase_ = Phase::P1;
    return true;
  }
  if (value == kSequenceHeader || value == kGroupStart) {
    held_ = 0;
    if (skipping_ || holding_) {
      // The picture before ends here: a left-out one is done, a held one has
      // no leading pictures.
      if (!writeRun(p, prefixStart)) return false;
      skipping_ = false;
      if (holding_ && !releaseHeld(restartTr_)) return false;
    }
    if (value == kGroupStart && videoTimeSet_) closeGop();
    if (value == kSequenceHeader && !videoOutputOn_) {
      // Output begins here once the time line is anchored; nothing earlier.
      videoOutputOn_ = videoTimeSet_;
    } else if (videoOutputOn_) {
      if (!writeRun(p, prefixStart)) return false;
      if (ts && (value == kSequenceHeader || !pesClosedAtHeader_)) {
        if (!mux_.EndVideoPes()) return false;
        pesClosedAtHeader_ = true;
      }
    }
    if (!startVideoUnit()) return false;
    p.runStart = v;
    return writePrefix();
  }
  held_ = 0;  // 00 00 01 and the value join the run
  return true;
}

bool VideoHandler::startVideoUnit() {
  // A GOP header right after a sequence header belongs to its unit.
  const bool first = videoOutputOn_ && !unitHeaderSeen_;
  unitHeaderSeen_ = videoOutputOn_;
  return !first || mux_.StartVideoUnit();
}

void VideoHandler::closeGop() {
  // A GOP with lost pictures still spans up to its highest picture: the next
  // GOP starts after it rather than on top of it.
  timing_.videoTime += std::max(gopPictureCount_, gopSpan_) * kPictureTicks;
  gopPictureCount_ = gopSpan_ = 0;
  gopSlots_ = priorSlots_ = 0;
  restartTr_ = 0;
}

void VideoHandler::restartGop(std::uint32_t tr, std::uint32_t anchored, bool reference) {
  // Pictures were lost (or the time stamps jumped): the picture goes to the
  // first free place of the time line, and its GOP is counted from there on,
  // so that the time line neither stops short nor runs back over pictures
  // already written. Pictures that come before it in this GOP and still
  // arrive move it on when it is held (releaseHeld); the others were lost.
  // A reference picture is shown after the one written before it, so its
  // place is after that one's.
  auto free = static_cast<std::uint32_t>(std::countr_one(gopSlots_));
  if (free >= 64) free = std::max(gopPictureCount_, gopSpan_);
  if (reference && anchorSeen_) {
    const std::int32_t after = TimeDifference(anchorTime_, timing_.videoTime) / static_cast<std::int32_t>(kPictureTicks) + 1;
    if (after > static_cast<std::int32_t>(free)) {
      free = static_cast<std::uint32_t>(after);
      if (free < 64) free += static_cast<std::uint32_t>(std::countr_one(gopSlots_ >> free));
    }
  }
  const std::uint32_t origin = timing_.videoTime + (free - tr) * kPictureTicks;
  moveStartBase(TimeDifference(anchored, origin));
  timing_.videoTime = origin;
  // The places taken before the loss, counted from the new origin: those
  // below the picture and any that lie above the first free one.
  priorSlots_ = ShiftDown(gopSlots_, static_cast<std::int64_t>(free) - tr) | LowBits(tr);
  gopSlots_ = priorSlots_;
  gopPictureCount_ = tr;
  gopSpan_ = std::max(tr, static_cast<std::uint32_t>(std::bit_width(priorSlots_)));
  restartTr_ = tr;
}

void VideoHandler::countPicture(std::uint32_t tr) {
  if (tr >= gopSpan_) gopSpan_ = tr + 1;
  if (tr < 64) gopSlots_ |= std::uint64_t{1} << tr;
  if (++gopPictureCount_ > gopSpan_) {
    // A GOP that runs on without a GOP header is cut where it restarts.
    timing_.videoTime += gopSpan_ * kPictureTicks;
    gopPictureCount_ -= gopSpan_;
    gopSlots_ = ShiftDown(gopSlots_, gopSpan_);
    priorSlots_ = ShiftDown(priorSlots_, gopSpan_);
    gopSpan_ = 0;
    restartTr_ = 0;
  }
}

bool VideoHandler::releaseHeld(std::uint32_t firstLeading) {
  holding_ = false;
  const std::uint32_t tr = restartTr_;
  // The leading pictures still to come take the places before the held one:
  // it moves on by as many, and so does the time origin, so that the sound
  // stays in step. The places of the lost ones are those of the pictures
  // written before the loss; none of the new places may be one of those.
  std::uint32_t room = firstLeading < tr ? tr - firstLeading : 0;
  while (room > 0 && (priorSlots_ & LowBits(tr + room + 1) & ~LowBits(tr)) != 0) --room;
  if (room > 0 && gopPictureCount_ >= room) {
    timing_.videoTime += room * kPictureTicks;
    moveStartBase(-static_cast<std::int32_t>(room * kPictureTicks));
    gopPictureCount_ -= room;
    priorSlots_ >>= room;
    gopSlots_ = priorSlots_ | (std::uint64_t{1} << tr);
    gopSpan_ = std::max(tr + 1, static_cast<std::uint32_t>(std::bit_width(priorSlots_)));
  }
  anchorTime_ = timing_.videoTime + tr * kPictureTicks;
  if (!mux_.VideoPtsPlaced() && !mux_.PlaceVideoPts(anchorTime_)) return false;
  const std::uint32_t length = holdLength_;
  holdLength_ = 0;
  if (!mux_.WriteVideoBytes(std::span(capture_).first(length))) return false;
  if (!closeAfterRelease_) return true;
  closeAfterRelease_ = false;
  return mux_.EndVideoPes();
}

bool VideoHandler::Finish() { return !holding_ || releaseHeld(restartTr_); }

bool VideoHandler::lostBackwardReference(std::uint32_t tr, std::uint32_t type) const {
  // Decoders show a B picture at once and hold a reference picture back
  // until the next one is decoded. So a B picture belongs after the picture
  // shown last and before the reference picture held back. One placed
  // elsewhere lost a reference (in its GOP, or at the start of the GOP after
  // a loss): it would be shown out of order and predicted from the wrong
  // pictures.
  if (type != kBPicture || !anchorSeen_) return false;
  const std::uint32_t t = timing_.videoTime + tr * kPictureTicks;
  return TimeDifference(t, anchorTime_) >= 0 || (shownSet_ && TimeDifference(t, shownTime_) <= 0);
}

bool VideoHandler::mpeg2Picture(Piece& p) {
  const std::uint32_t tr = (static_cast<std::uint32_t>(startCodeTemplate_[4]) << 2) |
                           (startCodeTemplate_[5] >> 6);
  const std::uint32_t type = (startCodeTemplate_[5] >> 3) & 7;
  phase_ = Phase::Z0;
  p.runStart = p.pos;
  const bool timed = startCodePtsValid_ && timing_.startFound;
  if (holding_) {
    // The picture after the held one: shown before it and in step with it,
    // it is the first of the held picture's leading pictures that arrive.
    bool leading = tr < restartTr_;
    if (leading && timed) {
      const std::uint32_t anchored = startCodePts_ - tr * kPictureTicks - timing_.startBase;
      const std::int32_t d = TimeDifference(anchored, timing_.videoTime);
      leading = d < kHalfPicture && d > -kHalfPicture;
    }
    if (!releaseHeld(leading ? tr : restartTr_)) return false;
  }
  bool restarted = false;
  if (timed) {
    takeStamp();
    const std::uint32_t anchored = startCodePts_ - tr * kPictureTicks - timing_.startBase;
    if (!videoTimeSet_) {
      timing_.videoTime = anchored;
      videoTimeSet_ = true;
    } else {
      const std::int32_t d = TimeDifference(anchored, timing_.videoTime);
      if (d > kMaxTimeJump || d < -kMaxTimeJump) {
        phase_ = Phase::Stopped;
        return true;
      }
      if (d >= kHalfPicture || d <= -kHalfPicture) {
        // Lost pictures: the lost time leaves the output, audio included.
        restartGop(tr, anchored, type == kIPicture || type == kPPicture);
        restarted = true;
      } else {
        moveStartBase(d);
      }
    }
  }
  // A picture of the restarted GOP that would land on a place taken before
  // the loss is left out, and not counted again. So is a B picture that lost
  // its later reference; its place stays empty, as for any lost picture.
  const bool overlaps = videoTimeSet_ && tr < 64 && ((priorSlots_ >> tr) & 1) != 0;
  const bool orphan = videoTimeSet_ && lostBackwardReference(tr, type);
  if (videoOutputOn_) {
    if (overlaps || orphan) {
      skipping_ = true;
    } else if (restarted && (type == kIPicture || type == kPPicture) && tr > 0 && tr < 64) {
      holding_ = true;
      holdLength_ = 0;
      closeAfterRelease_ = false;
      if (!writeBytes(startCodeTemplate_)) return false;
    } else {
      if (!mux_.VideoPtsPlaced() &&
          !mux_.PlaceVideoPts(timing_.videoTime + tr * kPictureTicks)) {
        return false;
      }
      if (!writeBytes(startCodeTemplate_)) return false;
    }
  }
  if ((type == kIPicture || type == kPPicture) && !overlaps) {
    // The reference picture held back until now is shown.
    shownTime_ = anchorTime_;
    shownSet_ = anchorSeen_;
    anchorTime_ = timing_.videoTime + tr * kPictureTicks;  // a held one's moves when it is written
    anchorSeen_ = videoTimeSet_;
  } else if (type == kBPicture && !overlaps && !orphan) {
    shownTime_ = timing_.videoTime + tr * kPictureTicks;
    shownSet_ = true;
  }
  if (videoTimeSet_ && !overlaps) countPicture(tr);
  return true;
}

bool VideoHandler::h264StartCode(Piece& p, std::uint8_t value, bool straddling) {
  const std::uint32_t v = p.pos - 1;
  const std::uint8_t type = value & 0x1F;
  held_ = heldOutside_ = 0;
  phase_ = Phase::Z0;
  if (type == kNalDelimiter) return h264Delimiter(p, straddling);
  if (straddling) {
    p.runStart = v;
    if (!writePrefix()) return false;
  }
  if (type == kNalIdrSlice || type == kNalSlice) {
    h264Slice(type == kNalIdrSlice);
    if (capturing_ && !startOutputAtSlice()) return false;
  } else if (type == kNalFiller) {
    p.cutEnd = p.pos;
    fillerActive_ = true;
  }
  return true;
}

bool VideoHandler::h264Delimiter(Piece& p, bool straddling) {
  const std::uint32_t v = p.pos - 1;
  auPts_ = startCodePts_;
  auPtsValid_ = startCodePtsValid_;
  takeStamp();
  if (straddling) {
    p.runStart = v;
  } else {
    if (videoOutputOn_ && !writeRun(p, v - 3)) return false;
    p.runStart = v - 3;
  }
  h264CheckDecodeTime();

  if (videoOutputOn_) {
    if (!mux_.layout().isTransportStream()) {
      if (auPtsValid_ && !mux_.PadPackBeforeTimedUnit()) return false;
    } else if (!mux_.EndVideoPes()) {
      return false;
    }
  }
  if (auPtsValid_ && timing_.startFound) videoOutputOn_ = videoTimeSet_;
  // Before output begins, a timed access unit is held until its first slice.
  capturing_ = !videoOutputOn_ && auPtsValid_ && timing_.startFound;
  captureLength_ = 0;
  if (videoOutputOn_ && !mux_.VideoPtsPlaced()) {
    if (auPtsValid_ && !mux_.PlaceVideoPts(auPts_ - timing_.startBase)) return false;
    mux_.KeepVideoPesUntimed();  // later access units of this packet carry none
  }
  if (straddling && !writePrefix()) return false;
  auPending_ = true;
  return true;
}

bool VideoHandler::startOutputAtSlice() {
  capturing_ = false;
  if (!videoTimeSet_) return true;  // not anchored here: the held bytes are dropped
  // Writing from the anchoring access unit keeps its parameter sets and
  // picture, which every later picture may depend on.
  videoOutputOn_ = true;
  if (!mux_.PlaceVideoPts(auPts_ - timing_.startBase)) return false;
  return mux_.WriteVideoBytes(std::span(capture_).first(captureLength_));
}

void VideoHandler::h264Slice(bool idr) {
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

void VideoHandler::h264CheckDecodeTime() {
  // Decode times advance by one frame per access unit, so a gap in them is a
  // reception drop; presentation times cannot show it, they are reordered.
  if (!auPtsValid_) {
    if (decodeTimeSet_) ++untimedUnits_;
    return;
  }
  if (!timing_.startFound) return;
  const std::uint32_t dts = pesDtsValid_ ? pesDts_ : auPts_;
  pesDtsValid_ = false;
  std::uint32_t t = dts - timing_.startBase;
  const std::uint32_t units = untimedUnits_ + 1;
  untimedUnits_ = 0;
  if (!decodeTimeSet_) {
    decodeTimeSet_ = true;
    lastDecodeTime_ = t;
    return;
  }
  const std::int32_t step = TimeDifference(t, lastDecodeTime_);
  if (step > 0) {
    const auto perUnit = static_cast<std::uint32_t>(step) / units;
    if (perUnit > 0 && (frameTicks_ == 0 || perUnit < frameTicks_)) frameTicks_ = perUnit;
  }
  if (frameTicks_ != 0) {
    const std::uint32_t expected = lastDecodeTime_ + units * frameTicks_;
    const std::int32_t d = TimeDifference(t, expected);
    const auto frame = static_cast<std::int32_t>(frameTicks_);
    // A whole frame or more off, and not a jump of more than 10 seconds
    // (those are kept as the input has them).
    if ((d >= frame || d <= -frame) && d <= kMaxTimeJump && d >= -kMaxTimeJump) {
      moveStartBase(d);
      t = expected;
    }
  }
  lastDecodeTime_ = t;
}

}  // namespace kelvor
