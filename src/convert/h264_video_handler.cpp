#include "convert/h264_video_handler.h"

#include <algorithm>

#include "convert/conversion_events.h"
#include "convert/h264_sps_timing.h"

namespace kelvor {
namespace {

constexpr std::uint8_t kSeiRecoveryPoint = 6;  // the same payload type in both codecs

}  // namespace

H264VideoHandler::H264VideoHandler(StreamTiming& timing, Multiplexer& mux, H264IdrState& idr,
                                   VideoStore& store, Codec codec)
    : VideoHandler(timing, mux),
      idr_(idr),
      syntax_(NalSyntax::Of(codec)),
      capture_(std::span(store).first(kIdrCaptureSize)) {}

void H264VideoHandler::Reset() {
  VideoHandler::Reset();
  timeline_.Reset();
  SetHeader(Header::None);
  auPending_ = auPtsValid_ = false;
  spsLength_ = 0;
  capturing_ = captureIdr_ = false;
  captureLength_ = capturedCount_ = 0;
  resync_ = resyncHold_ = dropUnit_ = recoveryPoint_ = skipLeading_ = false;
  auKind_ = NalKind::Other;
  resyncUnits_ = 0;
  delimiterSeen_ = false;
  vclSeen_ = true;
}

void H264VideoHandler::HeaderByte(std::uint8_t b) {
  if (headerSkip_ > 0) {
    --headerSkip_;
    return;
  }
  if (header_ == Header::Sei) {
    recoveryPoint_ |= b == kSeiRecoveryPoint;
    SetHeader(Header::None);
    return;
  }
  sps_[spsLength_++] = b;
  if (spsLength_ == sps_.size()) ReadSps();
}

void H264VideoHandler::Interrupted() {
  if (!videoOutputOn_ || stopped()) return;
  if (!resync_ || skipLeading_) resyncUnits_ = 0;
  skipLeading_ = false;
  resync_ = dropUnit_ = true;
  resyncHold_ = false;
}

bool H264VideoHandler::WriteBytes(std::span<const std::uint8_t> bytes) {
  if (dropUnit_) return true;
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
  if (videoOutputOn_) return mux_.WriteVideoBytes(bytes);
  if (capturing_) {
    const std::uint32_t limit = captureIdr_ ? kIdrCaptureSize : kCaptureSize;
    if (bytes.size() > limit - captureLength_) {
      capturing_ = captureIdr_ = false;  // too long to hold: output starts at a later access unit
    } else {
      std::copy(bytes.begin(), bytes.end(), capture_.begin() + captureLength_);
      captureLength_ += static_cast<std::uint32_t>(bytes.size());
    }
  }
  return true;
}

bool H264VideoHandler::Finish() {
  // The input ended while the access units from an IDR before the first
  // audio time stamp were held; once that stamp came, they go out.
  return !(captureIdr_ && timing_.startFound) || StartOutputAtCapturedIdr();
}

bool H264VideoHandler::PayloadByte(Piece& p, std::uint8_t b) {
  if (scanner_.phase() == Phase::P1 && syntax_.headerBytes == 2) {
    // HEVC: the NAL header's second byte (never zero) waits in the template too.
    startCodeTemplate_[4] = b;
    scanner_.Enter(Phase::P2);
    return true;
  }
  return SliceStart(p, b);
}

bool H264VideoHandler::StartCode(Piece& p, std::uint8_t value, bool straddling) {
  const std::uint32_t v = p.pos - 1;
  const NalKind kind = syntax_.Kind(value);
  if (header_ == Header::Sps) ReadSps();  // it ended here
  scanner_.Consume();
  scanner_.Enter(Phase::Z0);
  if (kind == NalKind::Delimiter) {
    delimiterSeen_ = true;
    return Delimiter(p, straddling ? 3 : 0);
  }
  const bool slice = IsSliceKind(kind);
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
    if (kind == NalKind::Sei || kind == NalKind::Sps || kind == NalKind::UnitStart) {
      vclSeen_ = false;
      if (!Delimiter(p, straddling ? 3 : 0)) return false;
      return stopped() || Nal(kind);
    }
  }
  if (straddling) {
    p.runStart = v;
    if (!WritePrefix()) return false;
  }
  if (kind == NalKind::Filler) {
    p.cutEnd = p.pos;
    cutActive_ = true;
  }
  return Nal(kind);
}

bool H264VideoHandler::SliceStart(Piece& p, std::uint8_t b) {
  scanner_.Enter(Phase::Z0);
  const NalKind kind = syntax_.Kind(startCodeTemplate_[3]);
  const std::uint32_t withheld = 3 + syntax_.headerBytes;
  // H.264: first_mb_in_slice, the slice header's first field (ue(v)), is 0
  // when the byte after the NAL header begins with a 1 bit; HEVC: that bit
  // is first_slice_segment_in_pic_flag. That byte cannot be an emulation
  // prevention byte: the header byte before it is not zero.
  if ((b & 0x80) != 0) {
    if (!Delimiter(p, withheld)) return false;
    if (stopped()) return true;
  } else {
    if (!WriteBytes(std::span(startCodeTemplate_).first(withheld))) return false;
    p.runStart = p.pos - 1;
    // A zero here may begin the next start code.
    if (b == 0) scanner_.Scan(b, CurrentStamp());
  }
  return Nal(kind);
}

bool H264VideoHandler::Nal(NalKind kind) {
  if (kind == NalKind::Sei) SetHeader(Header::Sei);
  // HEVC's parameter sets are not read: its time line learns the frame
  // duration from the decode times alone.
  if (kind == NalKind::Sps && !syntax_.hevc) {
    SetHeader(Header::Sps);
    spsLength_ = 0;
  }
  if (IsSliceKind(kind)) {
    vclSeen_ = true;
    const bool first = auPending_;
    if (first) auKind_ = kind;
    if (first && resyncHold_ && !ResumeAtSlice(kind)) return false;
    Slice(IsRandomAccessKind(kind));
    if (capturing_ && first && !timing_.startFound && capturedCount_ == 1) {
      // Before the start: only an IDR access unit is worth holding on.
      captureIdr_ = kind == NalKind::Idr;
      capturing_ = captureIdr_;
    } else if (capturing_ && !captureIdr_) {
      if (!StartOutputAtSlice()) return false;
      if (videoOutputOn_) SkipLeadingAfter(auKind_);
    }
  }
  return true;
}

void H264VideoHandler::SkipLeadingAfter(NalKind kind) {
  if (kind != NalKind::RandomAccess) return;
  resync_ = skipLeading_ = true;
  resyncUnits_ = 0;
}

bool H264VideoHandler::Delimiter(Piece& p, std::uint32_t withheld) {
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
  CheckDecodeTime();
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
    if (!mux_.layout().endsVideoPes()) {
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

bool H264VideoHandler::StartOutputAtSlice() {
  capturing_ = false;
  if (!videoTimeSet_) return true;  // not anchored here: the held bytes are dropped
  // Writing from the anchoring access unit keeps its parameter sets and
  // picture, which every later picture may depend on.
  videoOutputOn_ = true;
  CountPicture();
  if (!mux_.PlaceVideoPts(auPts_ - timing_.startBase)) return false;
  return mux_.WriteVideoBytes(std::span(capture_).first(captureLength_));
}

bool H264VideoHandler::ResumeAtSlice(NalKind kind) {
  resyncHold_ = false;
  if (skipLeading_) {
    if (kind == NalKind::Skipped) {
      dropUnit_ = true;  // leans on pictures before the start: left out
      return true;
    }
    skipLeading_ = false;  // the leading pictures are over
  } else if (!ResumeAfterLoss(IsRandomAccessKind(kind) || recoveryPoint_, resyncUnits_, timeline_.frameTicks())) {
    dropUnit_ = true;  // may lean on lost pictures: left out
    NotePictureSkipped();
    return true;
  }
  resync_ = false;
  resyncUnits_ = 0;
  SkipLeadingAfter(kind);
  // What the delimiter of a written access unit does, then its held head.
  if (mux_.layout().endsVideoPes() ? !mux_.EndVideoPes()
                                        : auPtsValid_ && !mux_.PadPackBeforeTimedUnit()) {
    return false;
  }
  if (!mux_.VideoPtsPlaced()) {
    if (auPtsValid_ && !mux_.PlaceVideoPts(auPts_ - timing_.startBase)) return false;
    mux_.KeepVideoPesUntimed();
  }
  return mux_.WriteVideoBytes(std::span(capture_).first(captureLength_));
}

bool H264VideoHandler::StartOutputAtCapturedIdr() {
  capturing_ = captureIdr_ = false;
  const std::uint32_t idrTime = capturedUnits_[0].pts - timing_.startBase;
  if (TimeDifference(idrTime, 0) < 0) return true;  // before the start: a later IDR anchors
  videoTimeSet_ = true;
  timing_.videoTime = idrTime;
  videoOutputOn_ = true;
  // Each held access unit as the delimiter of a written one would place it.
  const bool ts = mux_.layout().endsVideoPes();
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

void H264VideoHandler::Slice(bool idr) {
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

void H264VideoHandler::ReadSps() {
  SetHeader(Header::None);
  if (const auto timing = ReadSpsTiming(std::span(sps_).first(spsLength_))) {
    timeline_.DeclareFrameTicks(timing->FrameTicks());
  }
  spsLength_ = 0;
}

void H264VideoHandler::CheckDecodeTime() {
  if (!auPtsValid_) {
    timeline_.Untimed();
    return;
  }
  if (!timing_.startFound) return;
  const std::uint32_t dts = pesDtsValid_ ? pesDts_ : auPts_;
  pesDtsValid_ = false;
  timeline_.Timed(dts - timing_.startBase);
  const std::int32_t move = timeline_.TakeOriginMove();
  ApplyOriginMove(move);
  // Pictures were lost where no packet was seen missing (a cut that left
  // the continuity counters in step): the access units from here on may
  // lean on them, so output resumes at a random-access point as after lost
  // packets.
  if (move > 0 && videoOutputOn_) {
    if (!resync_ || skipLeading_) resyncUnits_ = 0;
    skipLeading_ = false;
    resync_ = true;
  }
}

}  // namespace kelvor
