#pragma once
// The H.264 decode-time line: decode times advance by one frame per access
// unit, so a gap in them is a reception drop (presentation times cannot
// show it, they are reordered). The gap is taken out of the output by
// moving the common time origin, which the audio follows. Pure arithmetic:
// decode times (relative to the origin) in, origin moves out.
//
// The step of one access unit is the most common step among the recent
// ones, so that field pairs (two access units of half a frame), a change of
// frame rate or one decode time off by half a frame do not fool it; only a
// step at least two units beyond the expected one (or one that does not go
// forward) counts as a loss. The frame duration a sequence parameter set
// declares is the step expected before any is learnt, and when it changes
// (a new frame rate) the steps learnt at the old rate are forgotten.
#include <array>
#include <cstdint>

namespace kelvor {

class H264Timeline {
 public:
  static constexpr std::int32_t kMaxTimeJump = 900000;  // 10 seconds

  void Reset() { *this = H264Timeline{}; }

  // An access unit without a time stamp.
  void Untimed() {
    if (decodeTimeSet_) ++untimedUnits_;
  }
  // An access unit with decode time `dts` (minus the origin).
  void Timed(std::uint32_t dts);
  // A sequence parameter set declares frames of `ticks` (0: none declared).
  void DeclareFrameTicks(std::uint32_t ticks);

  // Decode-time step of one access unit, once known (0: not yet).
  std::uint32_t frameTicks() const { return frameTicks_; }

  // Ticks the time origin has to move since the last call (added to it).
  std::int32_t TakeOriginMove() {
    const std::int32_t d = originMove_;
    originMove_ = 0;
    return d;
  }

 private:
  bool decodeTimeSet_ = false;
  std::uint32_t lastDecodeTime_ = 0;
  std::uint32_t frameTicks_ = 0;
  std::uint32_t untimedUnits_ = 0;  // access units since the last timed one
  // The recent steps per access unit, oldest overwritten first.
  static constexpr std::uint32_t kWindow = 16;
  std::array<std::uint32_t, kWindow> steps_{};
  std::uint32_t stepCount_ = 0;
  std::uint32_t declaredTicks_ = 0;
  void Learn(std::uint32_t perUnit);
  std::int32_t originMove_ = 0;
};

}  // namespace kelvor
