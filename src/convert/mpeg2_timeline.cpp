#include "convert/mpeg2_timeline.h"

#include <algorithm>
#include <bit>

#include "convert/stream_timing.h"

namespace kelvor {
namespace {

// The lowest `n` bits set.
constexpr std::uint64_t LowBits(std::uint32_t n) { return n >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << n) - 1; }
// Bits moved `n` places down (n < 0: up); what leaves the word is gone.
constexpr std::uint64_t ShiftDown(std::uint64_t bits, std::int64_t n) {
  if (n >= 64 || n <= -64) return 0;
  return n >= 0 ? bits >> n : bits << -n;
}

// Frame rates by frame_rate_code: numerator and denominator.
constexpr std::uint32_t kRates[9][2] = {{0, 0},        {24000, 1001}, {24, 1}, {25, 1}, {30000, 1001},
                                        {30, 1},       {50, 1},       {60000, 1001}, {60, 1}};

}  // namespace

double Mpeg2FramesPerSecond(std::uint32_t code) {
  if (code == 0 || code > 8) return 0;
  return static_cast<double>(kRates[code][0]) / kRates[code][1];
}

void Mpeg2Timeline::SetFrameRate(std::uint32_t code, std::uint32_t extN, std::uint32_t extD) {
  if (code == 0 || code > 8) return;
  const std::uint64_t num = std::uint64_t{kRates[code][0]} * (extN + 1);
  const std::uint64_t den = std::uint64_t{kRates[code][1]} * (extD + 1);
  const auto units = static_cast<std::uint32_t>((std::uint64_t{90000} * kUnitsPerTick * den + num / 2) / num);
  if (units == frameUnits_ || units == 0) return;
  frameUnits_ = slotUnits_ = units;
  shownUnits_ = shownPictures_ = 0;
  varying_ = false;
}

void Mpeg2Timeline::PictureDuration(bool progressiveSequence, bool framePicture, bool topFieldFirst,
                                    bool repeatFirstField) {
  if (!framePicture) {
    // Two field pictures make one frame and take one slot.
    const bool second = field_ == Field::Second;
    field_ = second ? Field::None : Field::FirstCounted;
    if (second) return;
  } else {
    field_ = Field::None;
  }
  std::uint32_t units = frameUnits_;
  if (repeatFirstField) units = progressiveSequence ? frameUnits_ * (topFieldFirst ? 3 : 2) : frameUnits_ / 2 * 3;
  varying_ |= units != frameUnits_;
  shownUnits_ += units;
  ++shownPictures_;
  // With repeated fields a slot is the average display time, so that the
  // counted time line keeps to the pictures' time over any length.
  if (varying_) slotUnits_ = static_cast<std::uint32_t>((shownUnits_ + shownPictures_ / 2) / shownPictures_);
}

bool Mpeg2Timeline::SecondField(std::uint32_t tr) {
  const bool pair = field_ == Field::FirstCounted && tr == fieldTr_;
  field_ = pair ? Field::Second : Field::None;
  return pair;
}

std::uint32_t Mpeg2Timeline::At(std::int64_t slots) const {
  const std::int64_t units = fraction_ + slots * slotUnits_;
  return videoTime_ + static_cast<std::uint32_t>(units >> 3);
}

void Mpeg2Timeline::Advance(std::int64_t slots) {
  const std::int64_t units = fraction_ + slots * slotUnits_;
  videoTime_ += static_cast<std::uint32_t>(units >> 3);
  fraction_ = static_cast<std::uint32_t>(units & 7);
}

void Mpeg2Timeline::CloseGop() {
  if (!timeSet_) return;
  // A GOP with lost pictures still spans up to its highest picture: the next
  // GOP starts after it rather than on top of it.
  Advance(std::max(gopPictureCount_, gopSpan_));
  gopPictureCount_ = gopSpan_ = 0;
  gopSlots_ = priorSlots_ = 0;
  restartTr_ = 0;
}

void Mpeg2Timeline::RestartGop(std::uint32_t tr, std::uint32_t stamp, bool reference) {
  // Pictures were lost (or the time stamps jumped): the picture goes to the
  // first free place of the time line, and its GOP is counted from there on,
  // so that the time line neither stops short nor runs back over pictures
  // already written. Pictures that come before it in this GOP and still
  // arrive move it on when it is held (Release); the others were lost.
  // A reference picture is shown after the one written before it, so its
  // place is after that one's.
  auto free = static_cast<std::uint32_t>(std::countr_one(gopSlots_));
  if (free >= 64) free = std::max(gopPictureCount_, gopSpan_);
  if (reference && anchorSeen_) {
    const std::int64_t behind = kUnitsPerTick * std::int64_t{TimeDifference(anchorTime_, videoTime_)} - fraction_;
    // Nearest slot: with repeated fields the slots are an average whose
    // times are rounded to whole ticks.
    const std::int64_t slot = slotUnits_;
    const std::int64_t nearest = (behind >= 0 ? behind + slot / 2 : behind - slot / 2 + 1) / slot;
    const std::int64_t after = nearest + 1;
    if (after > free) {
      free = static_cast<std::uint32_t>(after);
      if (free < 64) free += static_cast<std::uint32_t>(std::countr_one(gopSlots_ >> free));
    }
  }
  Advance(std::int64_t{free} - tr);
  MoveOrigin(TimeDifference(stamp, At(tr)));
  // The places taken before the loss, counted from the new origin: those
  // below the picture and any that lie above the first free one.
  priorSlots_ = ShiftDown(gopSlots_, static_cast<std::int64_t>(free) - tr) | LowBits(tr);
  gopSlots_ = priorSlots_;
  gopPictureCount_ = tr;
  gopSpan_ = std::max(tr, static_cast<std::uint32_t>(std::bit_width(priorSlots_)));
  restartTr_ = tr;
}

void Mpeg2Timeline::CountPicture(std::uint32_t tr) {
  if (tr >= gopSpan_) gopSpan_ = tr + 1;
  if (tr < 64) gopSlots_ |= std::uint64_t{1} << tr;
  if (++gopPictureCount_ > gopSpan_) {
    // A GOP that runs on without a GOP header is cut where it restarts.
    Advance(gopSpan_);
    gopPictureCount_ -= gopSpan_;
    gopSlots_ = ShiftDown(gopSlots_, gopSpan_);
    priorSlots_ = ShiftDown(priorSlots_, gopSpan_);
    gopSpan_ = 0;
    restartTr_ = 0;
  }
}

bool Mpeg2Timeline::IsLeading(std::uint32_t tr, bool timed, std::uint32_t stamp) const {
  if (tr >= restartTr_) return false;
  if (!timed) return true;
  const std::int32_t d = TimeDifference(stamp, At(tr));
  const auto halfSlot = static_cast<std::int32_t>(slotUnits_ / (2 * kUnitsPerTick));
  return d < halfSlot && d > -halfSlot;
}

std::uint32_t Mpeg2Timeline::Release(std::uint32_t firstLeading) {
  const std::uint32_t tr = restartTr_;
  // The leading pictures still to come take the places before the held one:
  // it moves on by as many, and so does the time origin, so that the sound
  // stays in step. The places of the lost ones are those of the pictures
  // written before the loss; none of the new places may be one of those.
  std::uint32_t room = firstLeading < tr ? tr - firstLeading : 0;
  while (room > 0 && (priorSlots_ & LowBits(tr + room + 1) & ~LowBits(tr)) != 0) --room;
  if (room > 0 && gopPictureCount_ >= room) {
    const std::uint32_t before = videoTime_;
    Advance(room);
    MoveOrigin(-static_cast<std::int32_t>(videoTime_ - before));
    gopPictureCount_ -= room;
    priorSlots_ >>= room;
    gopSlots_ = priorSlots_ | (std::uint64_t{1} << tr);
    gopSpan_ = std::max(tr + 1, static_cast<std::uint32_t>(std::bit_width(priorSlots_)));
  }
  anchorTime_ = At(tr);
  return anchorTime_;
}

bool Mpeg2Timeline::LostBackwardReference(std::uint32_t tr, std::uint32_t type) const {
  // Decoders show a B picture at once and hold a reference picture back
  // until the next one is decoded. So a B picture belongs after the picture
  // shown last and before the reference picture held back. One placed
  // elsewhere lost a reference (in its GOP, or at the start of the GOP after
  // a loss): it would be shown out of order and predicted from the wrong
  // pictures.
  if (type != kBPicture || !anchorSeen_) return false;
  const std::uint32_t t = At(tr);
  return TimeDifference(t, anchorTime_) >= 0 || (shownSet_ && TimeDifference(t, shownTime_) <= 0);
}

Mpeg2Timeline::Placement Mpeg2Timeline::SkipOrphan() {
  gapOpen_ = true;
  return {Fate::Skip, 0};
}

Mpeg2Timeline::Placement Mpeg2Timeline::Picture(std::uint32_t tr, std::uint32_t type, bool timed,
                                                std::uint32_t stamp) {
  const bool reference = type == kIPicture || type == kPPicture;
  bool restarted = false;
  bool onStamp = false;  // placed at its own time stamp
  field_ = Field::None;
  fieldTr_ = tr;
  // B pictures after one left out lean on the same lost reference picture.
  if (gapOpen_ && type == kBPicture) return SkipOrphan();
  if (gapOpen_ && !timed) gapOpen_ = false;  // no time stamp to close the gap with
  if (timed) {
    if (!timeSet_) {
      const std::int64_t units = std::int64_t{tr} * slotUnits_;
      videoTime_ = stamp - static_cast<std::uint32_t>((units + 7) >> 3);
      fraction_ = static_cast<std::uint32_t>(-units & 7);
      timeSet_ = true;
    } else {
      const std::int32_t d = TimeDifference(stamp, At(tr));
      if (d > kMaxTimeJump || d < -kMaxTimeJump) return {Fate::Stop, 0};
      const auto halfSlot = static_cast<std::int32_t>(slotUnits_ / (2 * kUnitsPerTick));
      if (d >= halfSlot || d <= -halfSlot || gapOpen_) {
        // Lost pictures: the lost time leaves the output, audio included.
        // A B picture that comes first after a loss lost the reference
        // picture decoded before it: it neither restarts the GOP nor takes
        // a place; the next reference picture restarts the GOP at the first
        // free place (also after B pictures left out), so the output has
        // no hole.
        if (type == kBPicture && anchorSeen_) {
          // The sound is cut at once, by the time the picture would take
          // in a restart; the reference picture's restart moves the rest.
          Mpeg2Timeline trial = *this;
          trial.RestartGop(tr, stamp, reference);
          MoveOrigin(trial.originMove_ - originMove_);
          return SkipOrphan();
        }
        RestartGop(tr, stamp, reference);
        gapOpen_ = false;
        restarted = true;
      } else if (varying_) {
        // Repeated fields: the slots are an average, the stamp is exact. The
        // picture keeps it, and the origin stays where it is.
        onStamp = true;
      } else {
        MoveOrigin(d);
      }
    }
  }
  // A picture of the restarted GOP that would land on a place taken before
  // the loss is left out, and not counted again. So is a B picture that lost
  // a reference; the next picture kept takes its place.
  const bool overlaps = timeSet_ && tr < 64 && ((priorSlots_ >> tr) & 1) != 0;
  if (!overlaps && timeSet_ && LostBackwardReference(tr, type)) return SkipOrphan();
  Placement out{Fate::Place, onStamp ? stamp : At(tr)};
  if (overlaps) {
    out.fate = Fate::Skip;
  } else if (restarted && reference && tr > 0 && tr < 64) {
    out.fate = Fate::Hold;
  }
  if (reference && !overlaps) {
    // The reference picture held back until now is shown.
    shownTime_ = anchorTime_;
    shownSet_ = anchorSeen_;
    anchorTime_ = At(tr);  // a held one's moves when it is released
    anchorSeen_ = timeSet_;
  } else if (type == kBPicture && !overlaps) {
    shownTime_ = At(tr);
    shownSet_ = true;
  }
  if (timeSet_ && !overlaps) CountPicture(tr);
  return out;
}

}  // namespace kelvor
