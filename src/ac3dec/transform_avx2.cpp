#include "ac3dec/transform_avx2.h"

#include "ac3dec/q24_avx2.h"
#include "ac3dec/transform_tables.h"

#include <array>
#include <cstdint>


namespace kelvor::ac3 {

#ifdef KELVOR_HAVE_AVX2_PATH

namespace {

using namespace avx2;

// Twiddles of each stage laid out contiguously: entry half + k holds
// cos(pi k / half) and sin(pi k / half), k < half.
struct StageTwiddles {
  alignas(32) std::array<Q24, 128> cos{};
  alignas(32) std::array<Q24, 128> sin{};
  alignas(32) std::array<Q24, 128> cos_odd{};  // see odd_lanes()
  alignas(32) std::array<Q24, 128> sin_odd{};
};

// A table whose entry i holds entry i | 1 of `t`: loaded at an even index,
// its even lanes hold the odd lanes of the same load of `t`, where the
// 32x32-bit multiply of the odd products reads them.
template <std::size_t N>
constexpr std::array<Q24, N> odd_lanes(const std::array<Q24, N>& t) {
  std::array<Q24, N> o{};
  for (std::size_t i = 0; i < N; ++i) o[i] = t[i | 1];
  return o;
}

// A constant factor of eight lanes with its odd lanes ready for the odd
// products: one shift less per product than mul_q24, the same values.
struct K {
  V v;
  V odd;
};

__attribute__((target("avx2"))) inline K konst(const Q24* table, const Q24* odd_table) {
  return {load(table), load(odd_table)};
}

__attribute__((target("avx2"))) inline V mul_q24(V a, K k) {
  const V round = _mm256_set1_epi64x(std::int64_t{1} << 23);
  const V even = _mm256_srli_epi64(_mm256_add_epi64(_mm256_mul_epi32(a, k.v), round), 24);
  const V odd = _mm256_add_epi64(_mm256_mul_epi32(_mm256_srli_epi64(a, 32), k.odd), round);
  return _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 8), 0xAA);
}

constexpr StageTwiddles make_stage_twiddles() {
  StageTwiddles t;
  for (int half = 1; half < 128; half *= 2) {
    for (int k = 0; k < half; ++k) {
      const auto at = static_cast<std::size_t>(k * (64 / half));
      t.cos[static_cast<std::size_t>(half + k)] = kFftTwiddles.cos[at];
      t.sin[static_cast<std::size_t>(half + k)] = kFftTwiddles.sin[at];
    }
  }
  t.cos_odd = odd_lanes(t.cos);
  t.sin_odd = odd_lanes(t.sin);
  return t;
}

struct PrePostOdd {
  alignas(32) std::array<Q24, 128> cos = odd_lanes(kPrePost512.cos);
  alignas(32) std::array<Q24, 128> sin = odd_lanes(kPrePost512.sin);
};
constexpr PrePostOdd kPrePostOdd{};
constexpr StageTwiddles kStage = make_stage_twiddles();

// Sums and differences of the FFT: saturating, or plain where the caller
// has shown that nothing can overflow (then both give the same values).
template <bool kSat>
__attribute__((target("avx2"))) inline V add(V a, V b) {
  if constexpr (kSat) return add_sat(a, b);
  return _mm256_add_epi32(a, b);
}
template <bool kSat>
__attribute__((target("avx2"))) inline V sub(V a, V b) {
  if constexpr (kSat) return sub_sat(a, b);
  return _mm256_sub_epi32(a, b);
}


template <bool kSat>
__attribute__((target("avx2"))) inline void stage(Q24* re, Q24* im, int n, int half) {
  for (int base = 0; base < n; base += 2 * half) {
    for (int k = 0; k < half; k += 8) {
      const K c = konst(kStage.cos.data() + half + k, kStage.cos_odd.data() + half + k);
      const K s = konst(kStage.sin.data() + half + k, kStage.sin_odd.data() + half + k);
      Q24* ar = re + base + k;
      Q24* ai = im + base + k;
      Q24* br = ar + half;
      Q24* bi = ai + half;
      const V vbr = load(br);
      const V vbi = load(bi);
      const V tr = sub<kSat>(mul_q24(vbr, c), mul_q24(vbi, s));
      const V ti = add<kSat>(mul_q24(vbi, c), mul_q24(vbr, s));
      const V var = load(ar);
      const V vai = load(ai);
      store(br, sub<kSat>(var, tr));
      store(bi, sub<kSat>(vai, ti));
      store(ar, add<kSat>(var, tr));
      store(ai, add<kSat>(vai, ti));
    }
  }
}


// The window split by the index pattern of each of the eight windowing
// formulas, so that every formula reads its window values contiguously.
struct WindowTables {
  alignas(32) std::array<std::array<Q24, 64>, 8> w{};
  alignas(32) std::array<std::array<Q24, 64>, 8> odd{};
};

constexpr WindowTables make_window_tables() {
  WindowTables t;
  for (std::size_t n = 0; n < 64; ++n) {
    t.w[0][n] = kWindow[2 * n];
    t.w[1][n] = kWindow[2 * n + 1];
    t.w[2][n] = kWindow[128 + 2 * n];
    t.w[3][n] = kWindow[128 + 2 * n + 1];
    t.w[4][n] = kWindow[255 - 2 * n];
    t.w[5][n] = kWindow[254 - 2 * n];
    t.w[6][n] = kWindow[127 - 2 * n];
    t.w[7][n] = kWindow[126 - 2 * n];
  }
  for (std::size_t f = 0; f < 8; ++f) t.odd[f] = odd_lanes(t.w[f]);
  return t;
}
constexpr WindowTables kWin = make_window_tables();

__attribute__((target("avx2"))) inline K w(int formula, int n) {
  const auto f = static_cast<std::size_t>(formula);
  return konst(kWin.w[f].data() + n, kWin.odd[f].data() + n);
}

template <bool kSat>
__attribute__((target("avx2"))) inline V neg(V a) { return sub<kSat>(_mm256_setzero_si256(), a); }

// Lanes in reverse order.
__attribute__((target("avx2"))) inline V reverse(V a) {
  return _mm256_permutevar8x32_epi32(a, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0));
}

// The even-indexed (or odd-indexed) lanes of 16 values starting at p.
__attribute__((target("avx2"))) inline V evens(const Q24* p) {
  const V idx = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const V lo = _mm256_permutevar8x32_epi32(load(p), idx);
  const V hi = _mm256_permutevar8x32_epi32(load(p + 8), idx);
  return _mm256_permute2x128_si256(lo, hi, 0x20);
}
__attribute__((target("avx2"))) inline V odds(const Q24* p) {
  const V idx = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  const V lo = _mm256_permutevar8x32_epi32(load(p), idx);
  const V hi = _mm256_permutevar8x32_epi32(load(p + 8), idx);
  return _mm256_permute2x128_si256(lo, hi, 0x31);
}

// Stores a interleaved with b: p[2i] = a[i], p[2i + 1] = b[i], i < 8.
__attribute__((target("avx2"))) inline void store_interleaved(Q24* p, V a, V b) {
  const V lo = _mm256_unpacklo_epi32(a, b);
  const V hi = _mm256_unpackhi_epi32(a, b);
  store(p, _mm256_permute2x128_si256(lo, hi, 0x20));
  store(p + 8, _mm256_permute2x128_si256(lo, hi, 0x31));
}

// Sixteen outputs and delay values: out = (a interleaved with b) + delay,
// then delay = c interleaved with d.
__attribute__((target("avx2"))) inline void overlap_interleaved(Q24* out, Q24* delay, V a, V b, V c, V d) {
  const V lo = _mm256_unpacklo_epi32(a, b);
  const V hi = _mm256_unpackhi_epi32(a, b);
  store(out, add_sat(_mm256_permute2x128_si256(lo, hi, 0x20), load(delay)));
  store(out + 8, add_sat(_mm256_permute2x128_si256(lo, hi, 0x31), load(delay + 8)));
  store_interleaved(delay, c, d);
}

// Four values in both 128-bit halves.
__attribute__((target("avx2"))) inline V both_halves(const Q24* p) {
  return _mm256_permute2x128_si256(load(p), load(p), 0x00);
}

// Stages 1 to 3 of the 128-point FFT on one group of eight points, as the
// portable code does them (stages 1 and 2 without products).
template <bool kSat>
__attribute__((target("avx2"))) inline void first_stages(Q24* re, Q24* im) {
  V r = load(re);
  V i = load(im);
  // Stage 1: pairs (0, 1), (2, 3)...: sum in the even lane, difference in the odd.
  {
    const V ar = _mm256_shuffle_epi32(r, 0xA0), br = _mm256_shuffle_epi32(r, 0xF5);
    const V ai = _mm256_shuffle_epi32(i, 0xA0), bi = _mm256_shuffle_epi32(i, 0xF5);
    r = _mm256_blend_epi32(add<kSat>(ar, br), sub<kSat>(ar, br), 0xAA);
    i = _mm256_blend_epi32(add<kSat>(ai, bi), sub<kSat>(ai, bi), 0xAA);
  }
  // Stage 2: (0, 2) with twiddle 1 and (1, 3) with twiddle j: (r3, i3) * j = (-i3, r3).
  {
    const V ar = _mm256_shuffle_epi32(r, 0x44), br = _mm256_shuffle_epi32(r, 0xEE);
    const V ai = _mm256_shuffle_epi32(i, 0x44), bi = _mm256_shuffle_epi32(i, 0xEE);
    const V tr = _mm256_blend_epi32(br, neg<kSat>(bi), 0xAA);
    const V ti = _mm256_blend_epi32(bi, br, 0xAA);
    r = _mm256_blend_epi32(add<kSat>(ar, tr), sub<kSat>(ar, tr), 0xCC);
    i = _mm256_blend_epi32(add<kSat>(ai, ti), sub<kSat>(ai, ti), 0xCC);
  }
  // Stage 3: span 8, twiddles pi k / 4 for k = 0..3.
  {
    const K c{both_halves(kStage.cos.data() + 4), both_halves(kStage.cos_odd.data() + 4)};
    const K s{both_halves(kStage.sin.data() + 4), both_halves(kStage.sin_odd.data() + 4)};
    const V ar = _mm256_permute2x128_si256(r, r, 0x00), br = _mm256_permute2x128_si256(r, r, 0x11);
    const V ai = _mm256_permute2x128_si256(i, i, 0x00), bi = _mm256_permute2x128_si256(i, i, 0x11);
    const V tr = sub<kSat>(mul_q24(br, c), mul_q24(bi, s));
    const V ti = add<kSat>(mul_q24(bi, c), mul_q24(br, s));
    r = _mm256_blend_epi32(add<kSat>(ar, tr), sub<kSat>(ar, tr), 0xF0);
    i = _mm256_blend_epi32(add<kSat>(ai, ti), sub<kSat>(ai, ti), 0xF0);
  }
  store(re, r);
  store(im, i);
}

// out[j] = z[bitrev7(j)]. With j = 8g + i, bitrev7(j) = 16 bitrev3(i) +
// bitrev4(g): output group g is column bitrev4(g) of z read as 8 rows of 16
// (rows taken in bitrev3 order), so two 8x8 transposes do it.
__attribute__((target("avx2"))) inline void bit_reverse_128(const Q24* z, Q24* out) {
  constexpr std::array<int, 8> kRow = {0, 4, 2, 6, 1, 5, 3, 7};                             // bitrev3
  constexpr std::array<int, 16> kGroup = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};  // bitrev4
  for (int half = 0; half < 2; ++half) {
    V r[8];  // plain arrays: std::array drops the vector type's attributes
    for (std::size_t i = 0; i < 8; ++i) r[i] = load(z + 16 * kRow[i] + 8 * half);
    V t[8];
    for (std::size_t i = 0; i < 8; i += 2) {
      t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
      t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    V u[8];
    for (std::size_t i = 0; i < 8; i += 4) {
      u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
      u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
      u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
      u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    // Column j (lane i: row i) of this half.
    for (std::size_t j = 0; j < 4; ++j) {
      const V low = _mm256_permute2x128_si256(u[j], u[j + 4], 0x20);
      const V high = _mm256_permute2x128_si256(u[j], u[j + 4], 0x31);
      store(out + 8 * kGroup[static_cast<std::size_t>(8 * half) + j], low);
      store(out + 8 * kGroup[static_cast<std::size_t>(8 * half) + j + 4], high);
    }
  }
}

template <bool kSat>
__attribute__((target("avx2"))) void transform_512(Q24* data, Q24* delay) {
  const Twiddles& tw = kPrePost512;
  alignas(32) std::array<Q24, 128> zr;
  alignas(32) std::array<Q24, 128> zi;
  alignas(32) std::array<Q24, 128> re;
  alignas(32) std::array<Q24, 128> im;
  // Pre-twiddle of a = X[255 - 2k] and b = X[2k], then into bit-reversed order.
  for (int k = 0; k < 128; k += 8) {
    const V b = evens(data + 2 * k);
    const V a = reverse(odds(data + 240 - 2 * k));
    const K c = konst(tw.cos.data() + k, kPrePostOdd.cos.data() + k);
    const K s = konst(tw.sin.data() + k, kPrePostOdd.sin.data() + k);
    store(zr.data() + k, sub<kSat>(mul_q24(a, c), mul_q24(b, s)));
    store(zi.data() + k, add<kSat>(mul_q24(b, c), mul_q24(a, s)));
  }
  bit_reverse_128(zr.data(), re.data());
  bit_reverse_128(zi.data(), im.data());
  for (int g = 0; g < 128; g += 8) first_stages<kSat>(re.data() + g, im.data() + g);
  for (int half = 8; half < 128; half *= 2) stage<kSat>(re.data(), im.data(), 128, half);
  // Post-twiddle.
  for (int n = 0; n < 128; n += 8) {
    const V r = load(re.data() + n);
    const V i = load(im.data() + n);
    const K c = konst(tw.cos.data() + n, kPrePostOdd.cos.data() + n);
    const K s = konst(tw.sin.data() + n, kPrePostOdd.sin.data() + n);
    store(zr.data() + n, sub<kSat>(mul_q24(r, c), mul_q24(i, s)));
    store(zi.data() + n, add<kSat>(mul_q24(i, c), mul_q24(r, s)));
  }
  const Q24* yr = zr.data();
  const Q24* yi = zi.data();
  // Windowing and de-interleaving: formula f gives x[base_f + 2n (+1)] of
  // the 512 windowed samples; the first half plus the delay line is the
  // output, the second half the new delay line. Each step reads the delay
  // values it replaces before writing them.
  for (int n = 0; n < 64; n += 8) {
    const V x0 = neg<kSat>(mul_q24(load(yi + 64 + n), w(0, n)));
    const V x1 = mul_q24(reverse(load(yr + 56 - n)), w(1, n));
    const V x2 = neg<kSat>(mul_q24(load(yr + n), w(2, n)));
    const V x3 = mul_q24(reverse(load(yi + 120 - n)), w(3, n));
    const V x4 = neg<kSat>(mul_q24(load(yr + 64 + n), w(4, n)));
    const V x5 = mul_q24(reverse(load(yi + 56 - n)), w(5, n));
    const V x6 = mul_q24(load(yi + n), w(6, n));
    const V x7 = neg<kSat>(mul_q24(reverse(load(yr + 120 - n)), w(7, n)));
    overlap_interleaved(data + 2 * n, delay + 2 * n, x0, x1, x4, x5);
    overlap_interleaved(data + 128 + 2 * n, delay + 128 + 2 * n, x2, x3, x6, x7);
  }
}

// is_quiet(), eight values at a time.
__attribute__((target("avx2"))) bool quiet(const Q24* data) {
  const V bias = _mm256_set1_epi32(kQuietLimit);
  const V limit = _mm256_set1_epi32(2 * kQuietLimit);
  V top = _mm256_setzero_si256();  // largest value + bias, unsigned
  for (int n = 0; n < 256; n += 8) top = _mm256_max_epu32(top, _mm256_add_epi32(load(data + n), bias));
  const V within = _mm256_cmpeq_epi32(_mm256_max_epu32(top, limit), limit);
  return _mm256_movemask_epi8(within) == -1;
}

bool have_avx2() { return avx2::available(); }

}  // namespace

bool fft_stage_avx2(Q24* re, Q24* im, int n, int half, bool saturate) {
  if (half < 8 || !have_avx2()) return false;
  if (saturate) {
    stage<true>(re, im, n, half);
  } else {
    stage<false>(re, im, n, half);
  }
  return true;
}

bool inverse_transform_512_avx2(std::span<Q24, 256> data, std::span<Q24, 256> delay) {
  if (!have_avx2()) return false;
  if (quiet(data.data())) {
    transform_512<false>(data.data(), delay.data());
  } else {
    transform_512<true>(data.data(), delay.data());
  }
  return true;
}

#else

bool fft_stage_avx2(Q24*, Q24*, int, int, bool) { return false; }
bool inverse_transform_512_avx2(std::span<Q24, 256>, std::span<Q24, 256>) { return false; }

#endif

}  // namespace kelvor::ac3
