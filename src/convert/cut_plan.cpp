#include "convert/cut_plan.h"

#include <algorithm>
#include <cstdlib>

namespace kelvor {
namespace {

// The group of `gops` whose first picture shown is nearest `t` (ticks
// after `zero`) from below, from above, or on either side; -1 when none
// lies on that side.
enum class Side : std::uint8_t { Below, Above, Nearest };

std::int64_t Rel(std::uint32_t pts, std::uint32_t zero) { return TimeDifference(pts, zero); }

std::ptrdiff_t Find(const std::vector<GopEntry>& gops, std::uint32_t zero, std::int64_t t, Side side) {
  // Groups are in input order; their times rise but for leading pictures.
  std::ptrdiff_t best = -1;
  std::int64_t bestDistance = 0;
  for (std::size_t k = 0; k < gops.size(); ++k) {
    const std::int64_t d = Rel(gops[k].displayStart, zero) - t;
    if ((side == Side::Below && d > 0) || (side == Side::Above && d < 0)) continue;
    const std::int64_t distance = d < 0 ? -d : d;
    if (best < 0 || distance < bestDistance) {
      best = static_cast<std::ptrdiff_t>(k);
      bestDistance = distance;
    }
  }
  return best;
}

}  // namespace

void CutPlan::Clear() {
  cuts_.clear();
  video_ = 0;
  zero_ = 0;
}

std::string CutPlan::Plan(const GopIndex& index, const std::vector<CutSpan>& spans, CutRounding rounding,
                          std::string_view where, std::string_view unit) {
  Clear();
  const std::vector<GopEntry>& gops = index.gops();
  if (gops.empty()) return std::string(where) + ": the video has no point where it can be cut";
  zero_ = gops.front().displayStart;
  const std::int64_t end = Rel(index.lastPts(), zero_);
  end_ = end;
  CutList all;
  for (const CutSpan& s : spans) all.AddCut(s);
  if (std::string m = all.Finish(where, unit); !m.empty()) return m;
  if (std::string m = all.CheckEnd(end, where, unit); !m.empty()) return m;
  cuts_.reserve(all.spans().size());
  for (const CutSpan& s : all.spans()) {
    const bool toEnd = s.end >= end;
    std::ptrdiff_t a = -1;
    std::ptrdiff_t b = -1;
    switch (rounding) {
      case CutRounding::Out:
        a = Find(gops, zero_, s.start, Side::Below);
        if (a < 0) a = 0;
        if (!toEnd) b = Find(gops, zero_, s.end, Side::Above);
        break;
      case CutRounding::In:
        a = Find(gops, zero_, s.start, Side::Above);
        if (!toEnd) b = Find(gops, zero_, s.end, Side::Below);
        break;
      case CutRounding::Nearest:
        a = Find(gops, zero_, s.start, Side::Nearest);
        if (!toEnd) b = Find(gops, zero_, s.end, Side::Nearest);
        break;
    }
    // Nothing to remove between two groups rounded onto each other.
    if (a < 0 || (!toEnd && b >= 0 && b <= a)) continue;
    PlannedCut c;
    c.asked = s;
    c.videoFrom = gops[static_cast<std::size_t>(a)].offset;
    c.from = gops[static_cast<std::size_t>(a)].displayStart;
    c.toEnd = toEnd || b < 0;
    if (!c.toEnd) {
      // MPEG-2: the B pictures shown before the first picture kept lean on
      // the group before, which is gone; the time line leaves them out (as
      // after a loss), so the cut ends at that picture. H.264 keeps them.
      const GopEntry& kept = gops[static_cast<std::size_t>(b)];
      c.videoTo = kept.offset;
      c.to = index.h264() || !kept.accessTimed ? kept.displayStart : kept.accessPts;
    }
    // Spans rounded onto the same groups are one cut.
    if (!cuts_.empty() && !cuts_.back().toEnd && cuts_.back().videoTo >= c.videoFrom) {
      PlannedCut& last = cuts_.back();
      last.asked.end = c.asked.end;
      last.toEnd = c.toEnd;
      last.videoTo = std::max(last.videoTo, c.videoTo);
      last.to = c.to;
      continue;
    }
    if (!cuts_.empty() && cuts_.back().toEnd) break;
    cuts_.push_back(c);
  }
  return {};
}

CutPlan::VideoStep CutPlan::Video(bool pesStart) {
  const std::uint64_t at = input_.position();
  VideoStep step = VideoStep::Route;
  while (video_ < cuts_.size() && !cuts_[video_].toEnd && at >= cuts_[video_].videoTo) {
    Move(cuts_[video_]);
    ++video_;
    step = VideoStep::Resume;
  }
  if (video_ < cuts_.size() && at >= cuts_[video_].videoFrom) {
    PlannedCut& c = cuts_[video_];
    if (!c.reached) c.outputTime = timing_.videoTime;
    c.reached = true;
    if (pesStart) ++c.picturesSkipped;
    return VideoStep::Skip;
  }
  return step;
}

void CutPlan::Move(PlannedCut& c) {
  if (c.moved || c.toEnd) return;
  c.moved = true;
  const std::uint32_t d = c.to - c.from;
  timing_.startBase += d;
  if (!c.reached) c.outputTime = timing_.videoTime;
  if (timing_.drops != nullptr) timing_.drops->PlannedCut(TimeDifference(c.to, c.from));
}

int CutPlan::CutAt(std::uint32_t pts, std::uint32_t ticks) {
  const std::uint32_t middle = pts + ticks / 2;
  for (std::size_t k = 0; k < cuts_.size(); ++k) {
    PlannedCut& c = cuts_[k];
    if (TimeDifference(middle, c.from) < 0) return -1;
    if (c.toEnd || TimeDifference(middle, c.to) < 0) return static_cast<int>(k);
    // Past this cut: once the video has reached it, time moves on.
    if (!c.moved && input_.position() >= c.videoFrom) Move(c);
  }
  return -1;
}

bool CutPlan::LeavesOutAudio(std::uint32_t track, std::uint32_t pts, std::uint32_t ticks) {
  const int k = CutAt(pts, ticks);
  if (k < 0) return false;
  if (track < kMaxAudioTracks) ++cuts_[static_cast<std::size_t>(k)].audioDropped[track];
  return true;
}

std::int64_t CutPlan::timeRemoved() const {
  std::int64_t total = 0;
  for (const PlannedCut& c : cuts_) {
    if (c.moved) total += TimeDifference(c.to, c.from);
    if (c.toEnd && c.reached) total += std::max<std::int64_t>(end_ - Rel(c.from, zero_), 0);
  }
  return total;
}

void CutPlan::Report(DropTracker& drops) const {
  for (const PlannedCut& c : cuts_) {
    DropEvent e;
    e.kind = DropKind::Cut;
    e.inputOffset = c.videoFrom;
    e.askedStart = c.asked.start;
    e.askedEnd = c.asked.end;
    e.cutStart = Rel(c.from, zero_);
    e.cutEnd = c.toEnd ? kCutToTheEnd : Rel(c.to, zero_);
    e.inputTime = static_cast<std::uint32_t>(e.cutStart);
    e.outputTime = c.outputTime;
    e.timeCut = c.toEnd ? (c.reached ? std::max<std::int64_t>(end_ - e.cutStart, 0) : 0)
                        : c.moved ? TimeDifference(c.to, c.from) : 0;
    e.picturesSkipped = c.picturesSkipped;
    e.audioDropped = c.audioDropped;
    drops.Emit(e);
  }
}

}  // namespace kelvor
