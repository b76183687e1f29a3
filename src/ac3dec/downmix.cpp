#include "ac3dec/downmix.h"

#include <array>

#include "ac3dec/ac3_math.h"
#include "ac3dec/q24_avx2.h"

namespace kelvor::ac3 {

namespace {

// The formulas of each layout, written once for one sample (Q24) and for
// eight (AVX2 lanes): m is a gain, add and sub saturate.
inline Q24 m(Q24 a, Q24 k) { return mul_q24(a, k); }
inline Q24 add(Q24 a, Q24 b) { return add_sat_q24(a, b); }
inline Q24 sub(Q24 a, Q24 b) { return sub_sat_q24(a, b); }

#ifdef KELVOR_HAVE_AVX2_PATH
// Eight samples; the helpers are found by argument-dependent lookup.
struct Lanes {
  __m256i v;
};
__attribute__((target("avx2"))) inline Lanes m(Lanes a, Lanes k) { return {avx2::mul_q24(a.v, k.v)}; }
__attribute__((target("avx2"))) inline Lanes add(Lanes a, Lanes b) { return {avx2::add_sat(a.v, b.v)}; }
__attribute__((target("avx2"))) inline Lanes sub(Lanes a, Lanes b) { return {avx2::sub_sat(a.v, b.v)}; }
#endif

template <typename T>
struct Folded {
  T left;
  T right;
};

template <typename T>
struct Gains {
  T front3, side3, side4, front5, side5;
};

// Channels c[0..4] in bit-stream order and the LFE term f (0 without LFE).
// Inlined into each caller, so that the AVX2 one compiles it for AVX2.
template <typename T>
[[gnu::always_inline]] inline Folded<T> fold_sample(int acmod, const T* c, T f, const Gains<T>& gain) {
  switch (acmod) {
    case 0:
    case 2:
      return {add(c[0], f), add(c[1], f)};
    case 1: {
      const T mono = add(c[0], f);
      return {mono, mono};
    }
    case 3: {  // L, C, R
      const T ctr = add(m(c[1], gain.side3), f);
      return {add(m(c[0], gain.front3), ctr), add(m(c[2], gain.front3), ctr)};
    }
    case 4: {  // L, R, S
      const T s = m(c[2], gain.side3);
      return {add(sub(m(c[0], gain.front3), s), f), add(add(m(c[1], gain.front3), s), f)};
    }
    case 5: {  // L, C, R, S
      const T ctr = add(m(c[1], gain.side4), f);
      const T s = m(c[3], gain.side4);
      return {sub(add(m(c[0], gain.side3), ctr), s), add(add(m(c[2], gain.side3), ctr), s)};
    }
    case 6: {  // L, R, SL, SR
      const T s = m(add(c[2], c[3]), gain.side4);
      return {add(sub(m(c[0], gain.side3), s), f), add(add(m(c[1], gain.side3), s), f)};
    }
    default: {  // 7: L, C, R, SL, SR
      const T ctr = add(m(c[1], gain.side5), f);
      const T s = m(add(c[3], c[4]), gain.side5);
      return {sub(add(m(c[0], gain.front5), ctr), s), add(add(m(c[2], gain.front5), ctr), s)};
    }
  }
}

void fold_portable(int acmod, const std::array<const Q24*, 5>& ch, const Q24* lfe, Q24* left, Q24* right) {
  const Gains<Q24> gain{kFrontOf3, kSideOf3, kSideOf4, kFrontOf5, kSideOf5};
  for (std::size_t n = 0; n < 256; ++n) {
    std::array<Q24, 5> c{};
    for (std::size_t i = 0; i < c.size(); ++i) c[i] = ch[i] ? ch[i][n] : 0;
    const Q24 f = lfe ? m(lfe[n], kLfeGain) : 0;
    const Folded<Q24> out = fold_sample(acmod, c.data(), f, gain);
    left[n] = out.left;
    right[n] = out.right;
  }
}

#ifdef KELVOR_HAVE_AVX2_PATH
// Eight samples at a time; the switch on the layout is the same for every
// step, so it is predicted.
__attribute__((target("avx2"))) void fold_avx2(int acmod, const std::array<const Q24*, 5>& ch, const Q24* lfe,
                                               Q24* left, Q24* right) {
  const auto lanes = [](Q24 k) __attribute__((target("avx2"))) { return Lanes{_mm256_set1_epi32(k)}; };
  const Gains<Lanes> gain{lanes(kFrontOf3), lanes(kSideOf3), lanes(kSideOf4), lanes(kFrontOf5), lanes(kSideOf5)};
  const Lanes lfe_gain = lanes(kLfeGain);
  const Lanes zero{_mm256_setzero_si256()};
  for (std::size_t n = 0; n < 256; n += 8) {
    std::array<Lanes, 5> c{zero, zero, zero, zero, zero};
    for (std::size_t i = 0; i < c.size(); ++i) {
      if (ch[i]) c[i] = {avx2::load(ch[i] + n)};
    }
    const Lanes f = lfe ? m(Lanes{avx2::load(lfe + n)}, lfe_gain) : zero;
    const Folded<Lanes> out = fold_sample(acmod, c.data(), f, gain);
    avx2::store(left + n, out.left.v);
    avx2::store(right + n, out.right.v);
  }
}
#endif

}  // namespace

void fold_to_stereo(int acmod, std::span<const Q24* const> channels, const Q24* lfe, std::span<Q24, 256> left,
                    std::span<Q24, 256> right) {
  std::array<const Q24*, 5> ch{};
  for (std::size_t i = 0; i < channels.size() && i < ch.size(); ++i) ch[i] = channels[i];
#ifdef KELVOR_HAVE_AVX2_PATH
  if (avx2::available()) {
    fold_avx2(acmod, ch, lfe, left.data(), right.data());
    return;
  }
#endif
  fold_portable(acmod, ch, lfe, left.data(), right.data());
}

void fold_to_stereo_portable(int acmod, std::span<const Q24* const> channels, const Q24* lfe,
                             std::span<Q24, 256> left, std::span<Q24, 256> right) {
  std::array<const Q24*, 5> ch{};
  for (std::size_t i = 0; i < channels.size() && i < ch.size(); ++i) ch[i] = channels[i];
  fold_portable(acmod, ch, lfe, left.data(), right.data());
}

}  // namespace kelvor::ac3
