#include "convert/video_handler.h"

#include "convert/conversion_events.h"

namespace kelvor {
namespace {

constexpr std::array<std::uint8_t, 8> kZeros{};

}  // namespace

void VideoHandler::Reset() {
  stamp_.Reset();
  stampPlaced_ = false;
  pesDtsValid_ = false;
  scanner_.Reset();
  readingHeader_ = cutActive_ = false;
  videoOutputOn_ = videoTimeSet_ = false;
  endAtPicture_ = false;
  picturesBegun_ = 0;
  timeRemoved_ = 0;
}

bool VideoHandler::WriteRun(Piece& p, std::uint32_t end) {
  if (end <= p.runStart) return true;
  const bool ok = WriteBytes(p.bytes.subspan(p.runStart, end - p.runStart));
  p.runStart = end;
  return ok;
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

VideoStep VideoHandler::HandleVideo(std::span<const std::uint8_t> piece, const PesStamp& stamp) {
  BeforePiece(piece, &stamp);
  stamp_.Arrive(stamp);
  cutActive_ = false;
  pesDtsValid_ = stamp.dtsValid;
  pesDts_ = stamp.dts;
  stampPlaced_ = false;
  const bool written = HandlePiece(piece);
  return {written, stampPlaced_};
}

VideoStep VideoHandler::HandleVideo(std::span<const std::uint8_t> piece) {
  BeforePiece(piece, nullptr);
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
    if (scanner_.phase() == Phase::Z0 && !readingHeader_) {
      p.pos = static_cast<std::uint32_t>(StartCodeScanner::NextZeroPair(piece.data(), p.pos, n));
      if (p.pos == n) break;
    }
    const std::uint8_t b = piece[p.pos++];
    if (readingHeader_) HeaderByte(b);
    switch (scanner_.phase()) {
      case Phase::Z0:
      case Phase::Z1:
      case Phase::Z2:
        if (!WriteBytes(std::span(kZeros).first(scanner_.Scan(b, CurrentStamp())))) return false;
        if (scanner_.phase() == Phase::SC) cutActive_ = false;
        break;
      case Phase::SC:
        if (!StartCode(p, b, scanner_.straddling())) return false;
        if (stopped()) return true;
        break;
      case Phase::P1:
      case Phase::P2:
        if (!PayloadByte(p, b)) return false;
        if (stopped()) return true;
        break;
      case Phase::Stopped:
        return true;
    }
  }

  std::uint32_t end = RunEnd(p);
  if (scanner_.phase() == Phase::P1 || scanner_.phase() == Phase::P2) end = p.runStart;
  // The data of a unit cut at its header (filler data) is left out; only
  // what shares a piece with the next start code survives.
  if (cutActive_) end = std::max(p.runStart, std::min(end, p.cutEnd));
  if (!WriteRun(p, end)) return false;
  scanner_.EndPiece();
  return true;
}

bool VideoHandler::ResumeAfterLoss(bool randomAccess, std::uint32_t unitsWaited, std::uint32_t frameTicks) {
  if (randomAccess) return true;
  // 25 units stand for a second where the stream gives no frame rate.
  const std::uint32_t limit = frameTicks != 0 ? std::max(1u, kLossWaitTicks / frameTicks) : 25u;
  return unitsWaited > limit;
}

void VideoHandler::NotePictureSkipped() const {
  if (timing_.drops != nullptr) timing_.drops->PictureSkipped();
}

}  // namespace kelvor
