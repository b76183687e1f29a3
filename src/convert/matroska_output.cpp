#include "convert/matroska_output.h"

namespace kelvor {

namespace {

// An access unit that carries a sequence parameter set or an IDR slice is
// one a player can start from.
bool StartsDecoding(std::span<const std::uint8_t> data) {
  for (std::size_t i = 0; i + 3 < data.size(); ++i) {
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) continue;
    const std::uint8_t type = data[i + 3] & 0x1F;
    if (type == 7 || type == 5) return true;
  }
  return false;
}

}  // namespace

void MatroskaOutput::Start() {
  muxer_.Reset();
  PlanMatroskaTracks(tracks_, run_, tracks_.video.pid != 0, plan_);
  for (std::uint32_t n = 0; n < plan_.count; ++n) (void)muxer_.AddTrack(plan_.setups[n]);
  inUnit_ = timeKnown_ = false;
}

bool MatroskaOutput::AudioFrame(std::uint32_t slot, std::uint32_t time, std::span<const std::uint8_t> frame) {
  if (slot >= plan_.trackOfSlot.size() || plan_.trackOfSlot[slot] == mkv::kNoTrack) return true;
  return muxer_.WriteUnit(plan_.trackOfSlot[slot], time, true, frame);
}

bool MatroskaOutput::VideoTime(std::uint32_t pts) {
  if (inUnit_) {
    muxer_.SetUnitTime(pts);
    return true;
  }
  time_ = pts;
  timeKnown_ = true;
  return true;
}

bool MatroskaOutput::VideoBytes(std::span<const std::uint8_t> data) {
  if (plan_.videoTrack == mkv::kNoTrack) return true;
  if (!inUnit_) {
    const std::int64_t pts = timeKnown_ ? std::int64_t{time_} : mkv::kNoStamp;
    if (!muxer_.BeginUnit(plan_.videoTrack, pts, StartsDecoding(data))) return false;
    inUnit_ = true;
    timeKnown_ = false;
  }
  return muxer_.WriteUnitBytes(data);
}

bool MatroskaOutput::EndVideoUnit() {
  timeKnown_ = false;
  if (!inUnit_) return true;
  inUnit_ = false;
  return muxer_.EndUnit();
}

bool MatroskaOutput::Finish() {
  if (!EndVideoUnit()) return false;
  if (cuts_.active()) {
    muxer_.AddChapter(0);
    for (const PlannedCut& c : cuts_.cuts()) {
      if (c.moved) muxer_.AddChapter(c.outputTime);
    }
  }
  return muxer_.Finish();
}

}  // namespace kelvor
