#include "convert/h264_timeline.h"

#include "convert/stream_timing.h"

namespace kelvor {

void H264Timeline::Learn(std::uint32_t perUnit) {
  steps_[stepCount_++ % kWindow] = perUnit;
  const std::uint32_t n = stepCount_ < kWindow ? stepCount_ : kWindow;
  // The most common step; of equally common ones the latest wins, so that a
  // change of frame rate is followed once it is as common as the old rate.
  std::uint32_t best = 0;
  std::uint32_t bestCount = 0;
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint32_t step = steps_[(stepCount_ - 1 - k) % kWindow];
    std::uint32_t count = 0;
    for (std::uint32_t j = 0; j < n; ++j) count += steps_[j] == step;
    if (count > bestCount) {
      best = step;
      bestCount = count;
    }
  }
  frameTicks_ = best;
}

void H264Timeline::DeclareFrameTicks(std::uint32_t ticks) {
  // Parameter sets repeat with every group of pictures: only a new value counts.
  if (ticks == 0 || ticks == declaredTicks_) return;
  declaredTicks_ = ticks;
  steps_ = {};
  steps_[0] = ticks;
  stepCount_ = 1;
  frameTicks_ = ticks;
}

void H264Timeline::Timed(std::uint32_t dts) {
  std::uint32_t t = dts;
  const std::uint32_t units = untimedUnits_ + 1;
  untimedUnits_ = 0;
  if (!decodeTimeSet_) {
    decodeTimeSet_ = true;
    lastDecodeTime_ = t;
    return;
  }
  const std::int32_t step = TimeDifference(t, lastDecodeTime_);
  if (frameTicks_ != 0) {
    const std::uint32_t expected = lastDecodeTime_ + units * frameTicks_;
    const std::int32_t d = TimeDifference(t, expected);
    // In 64 bits: a damaged stream can learn a step of more than 2^30 ticks.
    const std::int64_t twoFrames = 2 * static_cast<std::int64_t>(frameTicks_);
    // Clearly off the expected step (or not forward), and not a jump of more
    // than 10 seconds (those are kept as the input has them).
    if ((step <= 0 || d >= twoFrames || d <= -twoFrames) && d <= kMaxTimeJump && d >= -kMaxTimeJump) {
      originMove_ += d;
      lastDecodeTime_ = expected;
      return;
    }
  }
  if (step > 0) {
    const auto perUnit = static_cast<std::uint32_t>(step) / units;
    if (perUnit > 0) Learn(perUnit);
  }
  lastDecodeTime_ = t;
}

}  // namespace kelvor
