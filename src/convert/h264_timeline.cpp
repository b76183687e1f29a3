#include "convert/h264_timeline.h"

#include "convert/stream_timing.h"

namespace kelvor {

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
      originMove_ += d;
      t = expected;
    }
  }
  lastDecodeTime_ = t;
}

}  // namespace kelvor
