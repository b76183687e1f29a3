#pragma once
// Constant tables of the inverse transforms (A/52 section 7.9.4), in Q24,
// built at compile time.
#include <array>
#include <cstdint>
#include <span>

#include "ac3dec/constexpr_math.h"
#include "ac3dec/window_table.h"
#include "common/q24.h"

namespace kelvor::ac3 {

struct Twiddles {
  std::array<Q24, 128> cos{};
  std::array<Q24, 128> sin{};
};

// Pre/post twiddles: -cos and -sin of 2*pi*(8k + 1) / (8 * size), for the
// 512-sample transform (128 entries, xcos1/xsin1) and the 256-sample one
// (64 entries, xcos2/xsin2).
constexpr Twiddles make_prepost(int count, std::int64_t den) {
  Twiddles t;
  for (int k = 0; k < count; ++k) {
    const auto sc = cmath::sincos_turns(8 * k + 1, den);
    t.cos[static_cast<std::size_t>(k)] = cmath::to_q24(-sc.c);
    t.sin[static_cast<std::size_t>(k)] = cmath::to_q24(-sc.s);
  }
  return t;
}
inline constexpr Twiddles kPrePost512 = make_prepost(128, 4096);
inline constexpr Twiddles kPrePost256 = make_prepost(64, 2048);

// FFT twiddles cos(pi k / 64) and sin(pi k / 64), k = 0..63.
constexpr Twiddles make_fft_twiddles() {
  Twiddles t;
  for (int k = 0; k < 64; ++k) {
    const auto sc = cmath::sincos_turns(k, 128);
    t.cos[static_cast<std::size_t>(k)] = cmath::to_q24(sc.c);
    t.sin[static_cast<std::size_t>(k)] = cmath::to_q24(sc.s);
  }
  return t;
}
inline constexpr Twiddles kFftTwiddles = make_fft_twiddles();

// Blocks whose coefficients all lie within +-kQuietLimit cannot overflow
// inside a transform: pre-twiddling gives magnitudes up to sqrt(2) times
// that, each of the at most seven FFT stages at most doubles them, and the
// post-twiddle and the window do not raise them, so no value before the
// overlap-add exceeds about 1.53e9 < 2^31. Their sums need no saturation
// (the overlap-add with the delay line still saturates).
inline constexpr Q24 kQuietLimit = 1 << 23;

constexpr bool is_quiet(std::span<const Q24, 256> data) {
  bool loud = false;
  for (const Q24 v : data) loud |= static_cast<std::uint32_t>(v) + std::uint32_t{kQuietLimit} > 2u * kQuietLimit;
  return !loud;
}

// 7-bit bit reversal of 0..127; the 64-point order is entry 2k.
constexpr std::array<std::uint8_t, 128> make_bitrev7() {
  std::array<std::uint8_t, 128> table{};
  for (unsigned i = 0; i < 128; ++i) {
    unsigned r = 0;
    for (unsigned b = 0; b < 7; ++b) r |= ((i >> b) & 1u) << (6 - b);
    table[i] = static_cast<std::uint8_t>(r);
  }
  return table;
}
inline constexpr std::array<std::uint8_t, 128> kBitReverse7 = make_bitrev7();

// Twice the window of Table 7.33 in Q24, truncated: the factor 2 of the
// overlap-add is folded in here.
constexpr std::array<Q24, 256> make_window() {
  std::array<Q24, 256> window{};
  for (std::size_t n = 0; n < 256; ++n)
    window[n] = static_cast<Q24>((static_cast<std::int64_t>(kWindowTable[n]) << 25) / 100000);
  return window;
}
inline constexpr std::array<Q24, 256> kWindow = make_window();

}  // namespace kelvor::ac3
