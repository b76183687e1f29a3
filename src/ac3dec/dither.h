#pragma once
// The pseudo-random generator that fills mantissas coded with zero bits.
// The decoder and the transcoder each own an instance.
#include <cstdint>

#include "common/q24.h"

namespace kelvor {

// One step of the 16-bit generator: shift right, XOR 0xA55A when a 1 fell out.
constexpr std::uint16_t dither_step(std::uint16_t state) {
  const bool out = (state & 1u) != 0;
  state = static_cast<std::uint16_t>(state >> 1);
  return out ? static_cast<std::uint16_t>(state ^ 0xA55Au) : state;
}

class Ac3Dither {
 public:
  static constexpr std::uint16_t kSeed = 0xFFFF;

  void reset() { state_ = kSeed; }
  std::uint16_t state() const { return state_; }

  // Next value in [-1, 1) as Q24: the new state read as a signed 16-bit number.
  Q24 dither_next() {
    state_ = dither_step(state_);
    return static_cast<Q24>(static_cast<std::int16_t>(state_)) * 512;
  }

 private:
  std::uint16_t state_ = kSeed;
};

}  // namespace kelvor
