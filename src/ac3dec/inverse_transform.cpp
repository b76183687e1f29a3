#include "ac3dec/inverse_transform.h"

#include <array>

#include "ac3dec/ac3_math.h"
#include "ac3dec/transform_avx2.h"
#include "ac3dec/transform_tables.h"

namespace kelvor::ac3 {

namespace {

using Sample = Q24;

// Rounded Q24 product; every sum and difference saturates (kSat), or, in a
// quiet block where nothing can overflow, is a plain one with the same
// result. Overflow is rare, so it is tested after a wrapping operation.
inline Sample mul(Sample a, Sample b) { return mul_q24(a, b); }
template <bool kSat>
inline Sample add(Sample a, Sample b) {
  Sample r;
  if (__builtin_add_overflow(a, b, &r) && kSat) [[unlikely]] r = a < 0 ? INT32_MIN : INT32_MAX;
  return r;
}
template <bool kSat>
inline Sample sub(Sample a, Sample b) {
  Sample r;
  if (__builtin_sub_overflow(a, b, &r) && kSat) [[unlikely]] r = a < 0 ? INT32_MIN : INT32_MAX;
  return r;
}
template <bool kSat>
inline Sample neg(Sample a) {
  return (kSat && a == INT32_MIN) ? INT32_MAX : static_cast<Sample>(0u - static_cast<std::uint32_t>(a));
}

struct Complex128 {
  std::array<Sample, 128> re;
  std::array<Sample, 128> im;
};

// In-place radix-2 inverse FFT of n = 2^log2n points whose input is in
// bit-reversed order. Butterflies of span 2 * half use e^{+j pi k / half}:
// entry k * 64 / half of the table of cos(pi k / 64), sin(pi k / 64).
template <bool kSat>
void inverse_fft(Sample* __restrict re, Sample* __restrict im, int log2n, bool simd) {
  const int n = 1 << log2n;
  // Stages 1 and 2 have the twiddles 1 and j, whose products are exact:
  // x * 1.0 rounds to x and x * 0 to 0.
  for (int base = 0; base < n; base += 4) {
    Sample* r = re + base;
    Sample* i = im + base;
    const Sample r0 = add<kSat>(r[0], r[1]), i0 = add<kSat>(i[0], i[1]);
    const Sample r1 = sub<kSat>(r[0], r[1]), i1 = sub<kSat>(i[0], i[1]);
    const Sample r2 = add<kSat>(r[2], r[3]), i2 = add<kSat>(i[2], i[3]);
    const Sample r3 = sub<kSat>(r[2], r[3]), i3 = sub<kSat>(i[2], i[3]);
    r[0] = add<kSat>(r0, r2);
    i[0] = add<kSat>(i0, i2);
    r[2] = sub<kSat>(r0, r2);
    i[2] = sub<kSat>(i0, i2);
    // (r3 + j i3) * j = -i3 + j r3
    const Sample tr = neg<kSat>(i3);
    r[1] = add<kSat>(r1, tr);
    i[1] = add<kSat>(i1, r3);
    r[3] = sub<kSat>(r1, tr);
    i[3] = sub<kSat>(i1, r3);
  }
  for (int half = 4; half < n; half *= 2) {
    if (simd && half >= 8 && fft_stage_avx2(re, im, n, half, kSat)) continue;
    const int tw_step = 64 / half;
    for (int base = 0; base < n; base += 2 * half) {
      Sample* __restrict ar = re + base;
      Sample* __restrict ai = im + base;
      Sample* __restrict br = ar + half;
      Sample* __restrict bi = ai + half;
      for (int k = 0; k < half; ++k) {
        const std::size_t t = static_cast<std::size_t>(k * tw_step);
        const Sample c = kFftTwiddles.cos[t];
        const Sample s = kFftTwiddles.sin[t];
        const Sample tr = sub<kSat>(mul(br[k], c), mul(bi[k], s));
        const Sample ti = add<kSat>(mul(bi[k], c), mul(br[k], s));
        br[k] = sub<kSat>(ar[k], tr);
        bi[k] = sub<kSat>(ai[k], ti);
        ar[k] = add<kSat>(ar[k], tr);
        ai[k] = add<kSat>(ai[k], ti);
      }
    }
  }
}

template <bool kSat>
void inverse_transform_256_impl(std::span<Q24, 256> data, std::span<Q24, 256> delay, bool simd);
template <bool kSat>
void inverse_transform_512_impl(std::span<Q24, 256> data, std::span<Q24, 256> delay);

}  // namespace

void inverse_transform_512(std::span<Q24, 256> data, std::span<Q24, 256> delay) {
  if (!inverse_transform_512_avx2(data, delay)) inverse_transform_512_portable(data, delay);
}

void inverse_transform_256(std::span<Q24, 256> data, std::span<Q24, 256> delay) {
  if (is_quiet(data)) {
    inverse_transform_256_impl<false>(data, delay, true);
  } else {
    inverse_transform_256_impl<true>(data, delay, true);
  }
}

void inverse_transform_256_portable(std::span<Q24, 256> data, std::span<Q24, 256> delay) {
  if (is_quiet(data)) {
    inverse_transform_256_impl<false>(data, delay, false);
  } else {
    inverse_transform_256_impl<true>(data, delay, false);
  }
}

void inverse_transform_512_portable(std::span<Q24, 256> data, std::span<Q24, 256> delay) {
  if (is_quiet(data)) {
    inverse_transform_512_impl<false>(data, delay);
  } else {
    inverse_transform_512_impl<true>(data, delay);
  }
}

void inverse_transform_512_saturating(std::span<Q24, 256> data, std::span<Q24, 256> delay) {
  inverse_transform_512_impl<true>(data, delay);
}

void inverse_transform_256_saturating(std::span<Q24, 256> data, std::span<Q24, 256> delay) {
  inverse_transform_256_impl<true>(data, delay, false);
}

namespace {

template <bool kSat>
void inverse_transform_512_impl(std::span<Q24, 256> data, std::span<Q24, 256> delay) {
  const Twiddles& tw = kPrePost512;
  Complex128 z;
  for (std::size_t k = 0; k < 128; ++k) {
    const Sample a = data[255 - 2 * k];
    const Sample b = data[2 * k];
    const std::size_t r = kBitReverse7[k];
    z.re[r] = sub<kSat>(mul(a, tw.cos[k]), mul(b, tw.sin[k]));
    z.im[r] = add<kSat>(mul(b, tw.cos[k]), mul(a, tw.sin[k]));
  }
  inverse_fft<kSat>(z.re.data(), z.im.data(), 7, false);
  Complex128 y;
  for (std::size_t n = 0; n < 128; ++n) {
    y.re[n] = sub<kSat>(mul(z.re[n], tw.cos[n]), mul(z.im[n], tw.sin[n]));
    y.im[n] = add<kSat>(mul(z.im[n], tw.cos[n]), mul(z.re[n], tw.sin[n]));
  }
  const auto& w = kWindow;
  std::array<Sample, 512> x;
  for (std::size_t n = 0; n < 64; ++n) {
    x[2 * n] = neg<kSat>(mul(y.im[64 + n], w[2 * n]));
    x[2 * n + 1] = mul(y.re[63 - n], w[2 * n + 1]);
    x[128 + 2 * n] = neg<kSat>(mul(y.re[n], w[128 + 2 * n]));
    x[128 + 2 * n + 1] = mul(y.im[127 - n], w[128 + 2 * n + 1]);
    x[256 + 2 * n] = neg<kSat>(mul(y.re[64 + n], w[255 - 2 * n]));
    x[256 + 2 * n + 1] = mul(y.im[63 - n], w[254 - 2 * n]);
    x[384 + 2 * n] = mul(y.im[n], w[127 - 2 * n]);
    x[384 + 2 * n + 1] = neg<kSat>(mul(y.re[127 - n], w[126 - 2 * n]));
  }
  for (std::size_t n = 0; n < 256; ++n) {
    data[n] = add<true>(x[n], delay[n]);  // the delay line may hold anything
    delay[n] = x[256 + n];
  }
}

template <bool kSat>
void inverse_transform_256_impl(std::span<Q24, 256> data, std::span<Q24, 256> delay, bool simd) {
  const Twiddles& tw = kPrePost256;
  // z1 from the even coefficients, z2 from the odd ones; 64 points each.
  Complex128 z;  // re/im [0..63] hold z1, [64..127] hold z2
  for (std::size_t k = 0; k < 64; ++k) {
    const std::size_t r = kBitReverse7[2 * k];
    const Sample a1 = data[254 - 4 * k];
    const Sample b1 = data[4 * k];
    z.re[r] = sub<kSat>(mul(a1, tw.cos[k]), mul(b1, tw.sin[k]));
    z.im[r] = add<kSat>(mul(b1, tw.cos[k]), mul(a1, tw.sin[k]));
    const Sample a2 = data[255 - 4 * k];
    const Sample b2 = data[4 * k + 1];
    z.re[64 + r] = sub<kSat>(mul(a2, tw.cos[k]), mul(b2, tw.sin[k]));
    z.im[64 + r] = add<kSat>(mul(b2, tw.cos[k]), mul(a2, tw.sin[k]));
  }
  inverse_fft<kSat>(z.re.data(), z.im.data(), 6, simd);
  inverse_fft<kSat>(z.re.data() + 64, z.im.data() + 64, 6, simd);
  Complex128 y;
  for (std::size_t n = 0; n < 64; ++n) {
    for (std::size_t h = 0; h < 128; h += 64) {
      y.re[h + n] = sub<kSat>(mul(z.re[h + n], tw.cos[n]), mul(z.im[h + n], tw.sin[n]));
      y.im[h + n] = add<kSat>(mul(z.im[h + n], tw.cos[n]), mul(z.re[h + n], tw.sin[n]));
    }
  }
  const auto& w = kWindow;
  const Sample* y1r = y.re.data();
  const Sample* y1i = y.im.data();
  const Sample* y2r = y.re.data() + 64;
  const Sample* y2i = y.im.data() + 64;
  std::array<Sample, 512> x;
  for (std::size_t n = 0; n < 64; ++n) {
    x[2 * n] = neg<kSat>(mul(y1i[n], w[2 * n]));
    x[2 * n + 1] = mul(y1r[63 - n], w[2 * n + 1]);
    x[128 + 2 * n] = neg<kSat>(mul(y1r[n], w[128 + 2 * n]));
    x[128 + 2 * n + 1] = mul(y1i[63 - n], w[128 + 2 * n + 1]);
    x[256 + 2 * n] = neg<kSat>(mul(y2r[n], w[255 - 2 * n]));
    x[256 + 2 * n + 1] = mul(y2i[63 - n], w[254 - 2 * n]);
    x[384 + 2 * n] = mul(y2i[n], w[127 - 2 * n]);
    x[384 + 2 * n + 1] = neg<kSat>(mul(y2r[63 - n], w[126 - 2 * n]));
  }
  for (std::size_t n = 0; n < 256; ++n) {
    data[n] = add<true>(x[n], delay[n]);  // the delay line may hold anything
    delay[n] = x[256 + n];
  }
}

}  // namespace

}  // namespace kelvor::ac3
