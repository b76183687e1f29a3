#include "mpegenc/frame_writer.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "mpegenc/simd.h"

namespace kelvor::mpegenc {
namespace {

// Most significant bit first into a fixed buffer.
class BitWriter {
 public:
  explicit BitWriter(std::span<std::uint8_t> out) : out_(out) {}

  // value < 2^bits, bits <= 32
  void put(std::uint32_t value, int bits) {
    acc_ = (acc_ << bits) | value;
    pending_ += bits;
    if (pending_ >= 32) {
      pending_ -= 32;
      const std::uint32_t word = __builtin_bswap32(static_cast<std::uint32_t>(acc_ >> pending_));  // most significant byte first
      if (pos_ + 4 <= out_.size()) std::memcpy(out_.data() + pos_, &word, 4);
      pos_ += 4;
    }
  }

  // Completes the last byte with zero bits and fills the frame with zero bytes.
  void finish() {
    if (pending_ % 8 != 0) put(0, 8 - pending_ % 8);
    while (pending_ > 0) {
      pending_ -= 8;
      if (pos_ < out_.size()) out_[pos_] = static_cast<std::uint8_t>(acc_ >> pending_);
      ++pos_;
    }
    std::fill(out_.begin() + static_cast<std::ptrdiff_t>(std::min(pos_, out_.size())), out_.end(), std::uint8_t{0});
  }

 private:
  std::span<std::uint8_t> out_;
  std::uint64_t acc_ = 0;
  int pending_ = 0;
  std::size_t pos_ = 0;
};

constexpr std::int64_t kOne = std::int64_t{1} << 24;

// 2^-bits as a double, built from its exponent (no division).
inline double InversePowerOfTwo(int bits) { return std::bit_cast<double>(static_cast<std::uint64_t>(1023 - bits) << 52); }

std::uint32_t Quantise(std::int64_t x, const QuantClass& q) {
  x = std::clamp(x, -(kOne - 1), kOne - 1);
  return static_cast<std::uint32_t>((((x + kOne) * q.a + (kOne >> 1)) >> 24) >> q.shift);
}

// Twelve samples of one part, as plain loops the compiler vectorises; built
// once for AVX2 and once for any x86-64. s * 2^24 / f is a double division:
// the dividend is exact below 2^53, and a correctly rounded quotient below
// 2^25 truncates to the true one (a non-integer quotient is at least 1/f
// from the next integer, far more than the rounding). Larger quotients only
// come from clipped samples and are clamped anyway.
[[gnu::always_inline]] inline void QuantiseBody(const Q24* s, Q24 f, std::int64_t a, int shift, std::uint16_t* code) {
  for (std::size_t i = 0; i < 12; ++i) {
    std::int64_t x = static_cast<std::int64_t>(static_cast<double>(s[i]) * 16777216.0 / static_cast<double>(f));
    x = x < -(kOne - 1) ? -(kOne - 1) : x > kOne - 1 ? kOne - 1 : x;
    code[i] = static_cast<std::uint16_t>((((x + kOne) * a + (kOne >> 1)) >> 24) >> shift);
  }
}

// The three parts of a subband, each gathered first.
[[gnu::always_inline]] inline void QuantiseSubbandBody(const Q24* first, std::size_t stride, std::span<const Q24, 3> f,
                                                       std::int64_t a, int shift, std::uint16_t* code) {
  for (std::size_t part = 0; part < 3; ++part) {
    std::array<Q24, 12> s;
    for (std::size_t i = 0; i < 12; ++i) s[i] = first[(12 * part + i) * stride];
    QuantiseBody(s.data(), f[part], a, shift, code + 12 * part);
  }
}

void QuantisePlain(const Q24* first, std::size_t stride, std::span<const Q24, 3> f, std::int64_t a, int shift,
                   std::uint16_t* code) {
  QuantiseSubbandBody(first, stride, f, a, shift, code);
}

#if KELVOR_MPEGENC_AVX2
KELVOR_SIMD_DIAGNOSTIC_PUSH
// The same in eight lanes of doubles, five times for the 36 samples, each
// lane with the scale factor of its part, and without a division: the
// quotient s * 2^24 / f comes from a product with the rounded reciprocal,
// which is within one of it, and one exact remainder decides (below 2^49
// every value here is exact in a double). A sample of |s| >= f is clipped
// anyway. The code (((x + 2^24) A + 2^23) >> 24) >> shift is exact in a
// double too.
__attribute__((target("avx512f,avx512dq"))) void QuantiseAvx512(const Q24* first, std::size_t stride, std::span<const Q24, 3> f,
                                                                std::int64_t a, int shift, std::uint16_t* code) {
  const __m512d ad = _mm512_set1_pd(static_cast<double>(a));
  const __m512d scale = _mm512_set1_pd(InversePowerOfTwo(24 + shift));
  const __m512d one = _mm512_set1_pd(1.0);
  const __m512d full = _mm512_set1_pd(16777216.0);
  const __m512d zero = _mm512_setzero_pd();
  __m512d fd[3];
  __m512d inverse[3];
  for (std::size_t p = 0; p < 3; ++p) {
    fd[p] = _mm512_set1_pd(static_cast<double>(f[p]));
    inverse[p] = _mm512_set1_pd(16777216.0 / static_cast<double>(f[p]));
  }
  const auto step = static_cast<int>(stride);
  const __m256i offsets = _mm256_mullo_epi32(_mm256_set_epi32(7, 6, 5, 4, 3, 2, 1, 0), _mm256_set1_epi32(step));
  alignas(64) std::array<std::int32_t, 40> codes;
  for (std::size_t c = 0; c < 5; ++c) {
    // Lanes 8c .. 8c + 7: from which one the second and third parts start.
    const auto second = static_cast<__mmask8>(c == 0 ? 0x00 : c == 1 ? 0xF0 : 0xFF);
    const auto third = static_cast<__mmask8>(c < 3 ? 0x00 : 0xFF);
    const __m256i valid = c < 4 ? _mm256_set1_epi32(-1) : _mm256_set_epi32(0, 0, 0, 0, -1, -1, -1, -1);
    const __m256i in = _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), first + 8 * c * stride, offsets, valid, 4);
    const __m512d fl = _mm512_mask_mov_pd(_mm512_mask_mov_pd(fd[0], second, fd[1]), third, fd[2]);
    const __m512d inv = _mm512_mask_mov_pd(_mm512_mask_mov_pd(inverse[0], second, inverse[1]), third, inverse[2]);
    const __m512d v = _mm512_cvtepi32_pd(in);
    const __m512d mag = _mm512_abs_pd(v);
    const __mmask8 inside = _mm512_cmp_pd_mask(mag, fl, _CMP_LT_OQ);
    const __m512d t = _mm512_mul_pd(mag, full);
    const __m512d guess = _mm512_roundscale_pd(_mm512_maskz_mul_pd(inside, mag, inv), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m512d r = _mm512_fnmadd_pd(guess, fl, t);  // exact
    __m512d q = _mm512_mask_sub_pd(guess, _mm512_cmp_pd_mask(r, zero, _CMP_LT_OQ), guess, one);
    q = _mm512_mask_add_pd(q, _mm512_cmp_pd_mask(r, fl, _CMP_GE_OQ), q, one);
    q = _mm512_mask_mov_pd(_mm512_set1_pd(16777215.0), inside, q);
    const __m512d x = _mm512_mask_sub_pd(q, _mm512_cmp_pd_mask(v, zero, _CMP_LT_OQ), zero, q);
    _mm256_store_si256(reinterpret_cast<__m256i*>(codes.data() + 8 * c),
                       _mm512_cvttpd_epi32(_mm512_mul_pd(_mm512_fmadd_pd(_mm512_add_pd(x, full), ad, _mm512_set1_pd(8388608.0)), scale)));
  }
  for (std::size_t i = 0; i < 36; ++i) code[i] = static_cast<std::uint16_t>(codes[i]);
}
#pragma GCC diagnostic pop

__attribute__((target("avx2"))) void QuantiseAvx2(const Q24* first, std::size_t stride, std::span<const Q24, 3> f,
                                                   std::int64_t a, int shift, std::uint16_t* code) {
  QuantiseSubbandBody(first, stride, f, a, shift, code);
}
#endif

}  // namespace

void QuantiseSubband(const Q24* first, std::size_t stride, std::span<const Q24, 3> f, const QuantClass& q,
                     std::uint16_t* code, SimdLevel simd) {
  simd = UsableSimd(simd);
#if KELVOR_MPEGENC_AVX2
  if (simd == SimdLevel::kAvx512) {
    QuantiseAvx512(first, stride, f, q.a, q.shift, code);
    return;
  }
  if (simd == SimdLevel::kAvx2) {
    QuantiseAvx2(first, stride, f, q.a, q.shift, code);
    return;
  }
#endif
  QuantisePlain(first, stride, f, q.a, q.shift, code);
}

std::uint32_t QuantiseSample(Q24 s, Q24 f, int c) {
  return Quantise((static_cast<std::int64_t>(s) * kOne) / f, kQuantClass[static_cast<std::size_t>(c)]);
}

void WriteFrame(const std::array<SubbandFrame, kChannels>& subbands, const ScaleChoices& scale,
                const Allocation& allocation, const FrameLayout& layout, std::span<std::uint8_t> out) {
  BitWriter bits(out);
  for (const std::uint8_t byte : layout.header) bits.put(byte, 8);
  const auto& alloc = allocation.alloc;
  const auto sblimit = static_cast<std::size_t>(layout.table->sblimit);
  const auto channels = static_cast<std::size_t>(layout.channels);
  for (std::size_t sb = 0; sb < sblimit; ++sb) {
    const int nbal = layout.table->rowOf(static_cast<int>(sb)).nbal;
    for (std::size_t ch = 0; ch < channels; ++ch) bits.put(alloc[ch][sb], nbal);
  }
  for (std::size_t sb = 0; sb < sblimit; ++sb) {
    for (std::size_t ch = 0; ch < channels; ++ch) {
      if (alloc[ch][sb] != 0) bits.put(scale[ch][sb].scfsi, 2);
    }
  }
  for (std::size_t sb = 0; sb < sblimit; ++sb) {
    for (std::size_t ch = 0; ch < channels; ++ch) {
      if (alloc[ch][sb] == 0) continue;
      const SentScaleFactors sent = SentOf(scale[ch][sb]);
      for (int i = 0; i < sent.count; ++i) bits.put(sent.index[static_cast<std::size_t>(i)], 6);
    }
  }
  // The coded subbands in bitstream order (subband, then channel), and
  // their codes, part by part (one scale factor each).
  struct Coded {
    const std::uint16_t* code;
    std::uint32_t levels;  // for grouping
    int bits;              // of a codeword, or of one code
    bool grouped;
  };
  std::array<Coded, kChannels * kMaxSubbands> coded;
  std::size_t count = 0;
  std::array<std::array<std::uint16_t, kSlots>, kChannels * kMaxSubbands> codes;
  for (std::size_t sb = 0; sb < sblimit; ++sb) {
    for (std::size_t ch = 0; ch < channels; ++ch) {
      if (alloc[ch][sb] == 0) continue;
      const QuantClass& q = kQuantClass[static_cast<std::size_t>(layout.table->rowOf(static_cast<int>(sb)).classOf[alloc[ch][sb]])];
      const auto& used = scale[ch][sb].used;
      const std::array<Q24, 3> f = {kScaleFactor[used[0]], kScaleFactor[used[1]], kScaleFactor[used[2]]};
      QuantiseSubband(&subbands[ch][0][sb], kSubbands, f, q, codes[count].data());
      coded[count] = {codes[count].data(), static_cast<std::uint32_t>(q.levels), q.codeBits, q.grouped};
      ++count;
    }
  }
  for (std::size_t t0 = 0; t0 < kSlots; t0 += 3) {  // parts, then granules of three samples
    for (std::size_t n = 0; n < count; ++n) {
      const Coded& c = coded[n];
      const std::uint16_t* code = c.code + t0;
      if (c.grouped) {
        bits.put(code[0] + c.levels * (code[1] + c.levels * code[2]), c.bits);
      } else if (3 * c.bits <= 32) {  // three codes in one go
        bits.put((static_cast<std::uint32_t>(code[0]) << (2 * c.bits)) | (static_cast<std::uint32_t>(code[1]) << c.bits) | code[2],
                 3 * c.bits);
      } else {
        for (int i = 0; i < 3; ++i) bits.put(code[i], c.bits);
      }
    }
  }
  bits.finish();
}

}  // namespace kelvor::mpegenc
