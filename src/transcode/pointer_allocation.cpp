#include "transcode/pointer_allocation.h"

#include <algorithm>
#include <cstddef>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ac3dec/q24_avx2.h"
#include "ac3dec/tables.h"

namespace kelvor::transcode {

namespace {

constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }

// Bits of one code by pointer, 0 for the grouped pointers 1, 2 and 4
// (counted apart: their groups span bins and channels).
constexpr std::array<std::uint8_t, 16> kUngroupedBits = {0, 0, 0, 3, 0, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16};

// Bits 0..23 hold the ungrouped bits, three 13-bit counters from bit 24 on
// the bins of pointer 1, 2 and 4.
constexpr int kCount1 = 24;
constexpr int kCount2 = 37;
constexpr int kCount4 = 50;

constexpr std::int16_t kNoBits = std::numeric_limits<std::int16_t>::min();

constexpr int kFirstWideBand = 28;
constexpr int kBandedBins = 253;

void fill_16(std::int16_t* at, std::int16_t v) {
  for (int i = 0; i < 16; ++i) at[i] = v;
}

std::int16_t to_16(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, std::numeric_limits<std::int16_t>::min(),
                                                           std::numeric_limits<std::int16_t>::max()));
}

// The packed count of one bin by pointer.
constexpr std::array<std::uint64_t, 16> make_pointer_costs() {
  std::array<std::uint64_t, 16> costs{};
  for (std::size_t p = 0; p < 16; ++p) costs[p] = kUngroupedBits[p];
  costs[1] = std::uint64_t{1} << kCount1;
  costs[2] = std::uint64_t{1} << kCount2;
  costs[4] = std::uint64_t{1} << kCount4;
  return costs;
}
constexpr std::array<std::uint64_t, 16> kPointerCosts = make_pointer_costs();

std::uint64_t allocate_scalar(const SpreadMask& m, int snroffset, std::uint8_t* bap) {
  // The addresses eight bins a step where SSE2 is there (16-bit lanes, as
  // the AVX2 path), then the table lookups bin by bin.
  std::array<std::int16_t, 256> address;
#if defined(__SSE2__)
  const __m128i offset = _mm_set1_epi16(static_cast<std::int16_t>(snroffset));
  for (std::size_t b = 0; b < 256; b += 8) {
    const __m128i threshold = _mm_and_si128(
        _mm_max_epi16(_mm_subs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m.mask.data() + b)), offset),
                      _mm_setzero_si128()),
        _mm_set1_epi16(0x1FE0));
    const __m128i a = _mm_srai_epi16(
        _mm_subs_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(m.psd.data() + b)), threshold), 5);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(address.data() + b),
                     _mm_min_epi16(_mm_max_epi16(a, _mm_setzero_si128()), _mm_set1_epi16(63)));
  }
#else
  for (std::size_t b = 0; b < 256; ++b) {
    const std::int32_t threshold = std::max(m.mask[b] - snroffset, 0) & 0x1FE0;
    address[b] = static_cast<std::int16_t>(std::clamp((m.psd[b] - threshold) >> 5, 0, 63));
  }
#endif
  std::uint64_t packed = 0;
  for (std::size_t b = 0; b < 256; ++b) {
    const std::uint8_t p = ac3::baptab[static_cast<std::size_t>(address[b])];
    bap[b] = p;
    packed += kPointerCosts[p];
  }
  return packed;
}

#if defined(KELVOR_HAVE_AVX2_PATH)

__attribute__((target("avx2"))) inline __m256i addresses_of(const std::int16_t* psd, const std::int16_t* mask,
                                                             __m256i offset) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i threshold = _mm256_and_si256(
      _mm256_max_epi16(_mm256_subs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask)), offset), zero),
      _mm256_set1_epi16(0x1FE0));
  const __m256i a = _mm256_srai_epi16(
      _mm256_subs_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(psd)), threshold), 5);
  return _mm256_min_epi16(_mm256_max_epi16(a, zero), _mm256_set1_epi16(63));
}

__attribute__((target("avx2"))) inline std::uint64_t sum_of_lanes(__m256i v) {
  const __m128i s = _mm_add_epi64(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
  return static_cast<std::uint64_t>(_mm_cvtsi128_si64(s)) + static_cast<std::uint64_t>(_mm_extract_epi64(s, 1));
}

__attribute__((target("avx2"))) void spread_psd_avx2(const std::int32_t* exps, int coded, int floor,
                                                     std::int16_t* out) {
  const __m256i f = _mm256_set1_epi32(3072 - floor);
  const __m256i last = _mm256_set1_epi16(static_cast<std::int16_t>(coded - 1));
  const __m256i none = _mm256_set1_epi16(kNoBits);
  __m256i bin = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  for (std::size_t b = 0; b < 256; b += 16) {
    const auto psd = [&](std::size_t at) __attribute__((target("avx2"))) {
      return _mm256_sub_epi32(f, _mm256_slli_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(exps + at)), 7));
    };
    const __m256i lo = psd(b);
    const __m256i hi = psd(b + 8);
    const __m256i v = _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + b), _mm256_blendv_epi8(v, none, _mm256_cmpgt_epi16(bin, last)));
    bin = _mm256_add_epi16(bin, _mm256_set1_epi16(16));
  }
}

// mask - floor of all bands in 16 bits (saturating, as to_16).
__attribute__((target("avx2"))) void band_masks_avx2(const std::int32_t* mask, int floor, std::int16_t* out) {
  const __m256i f = _mm256_set1_epi32(floor);
  int band = 0;
  for (; band + 16 <= ac3::kBands; band += 16) {
    const __m256i lo = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + band)), f);
    const __m256i hi = _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(mask + band + 8)), f);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + band), _mm256_permute4x64_epi64(_mm256_packs_epi32(lo, hi), 0xD8));
  }
  for (; band < ac3::kBands; ++band) out[band] = to_16(mask[band] - floor);
}

__attribute__((target("avx2"))) std::uint64_t allocate_avx2(const SpreadMask& m, int snroffset, std::uint8_t* bap) {
  // The 64-entry table as four of 16 (a shuffle takes the low four bits).
  const auto* table = reinterpret_cast<const __m128i*>(ac3::baptab.data());
  const __m256i t0 = _mm256_broadcastsi128_si256(_mm_loadu_si128(table));
  const __m256i t1 = _mm256_broadcastsi128_si256(_mm_loadu_si128(table + 1));
  const __m256i t2 = _mm256_broadcastsi128_si256(_mm_loadu_si128(table + 2));
  const __m256i t3 = _mm256_broadcastsi128_si256(_mm_loadu_si128(table + 3));
  const __m256i bits =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kUngroupedBits.data())));
  const __m256i offset = _mm256_set1_epi16(static_cast<std::int16_t>(snroffset));
  const __m256i zero = _mm256_setzero_si256();
  __m256i sum = zero;
  __m256i n1 = zero;
  __m256i n2 = zero;
  __m256i n4 = zero;
  for (std::size_t b = 0; b < 256; b += 32) {
    const __m256i lo = addresses_of(m.psd.data() + b, m.mask.data() + b, offset);
    const __m256i hi = addresses_of(m.psd.data() + b + 16, m.mask.data() + b + 16, offset);
    const __m256i a = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
    __m256i p = _mm256_shuffle_epi8(t0, a);
    p = _mm256_blendv_epi8(p, _mm256_shuffle_epi8(t1, a), _mm256_cmpgt_epi8(a, _mm256_set1_epi8(15)));
    p = _mm256_blendv_epi8(p, _mm256_shuffle_epi8(t2, a), _mm256_cmpgt_epi8(a, _mm256_set1_epi8(31)));
    p = _mm256_blendv_epi8(p, _mm256_shuffle_epi8(t3, a), _mm256_cmpgt_epi8(a, _mm256_set1_epi8(47)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(bap + b), p);
    sum = _mm256_add_epi64(sum, _mm256_sad_epu8(_mm256_shuffle_epi8(bits, p), zero));
    // At most 8 a byte lane over the 256 bins.
    n1 = _mm256_sub_epi8(n1, _mm256_cmpeq_epi8(p, _mm256_set1_epi8(1)));
    n2 = _mm256_sub_epi8(n2, _mm256_cmpeq_epi8(p, _mm256_set1_epi8(2)));
    n4 = _mm256_sub_epi8(n4, _mm256_cmpeq_epi8(p, _mm256_set1_epi8(4)));
  }
  return sum_of_lanes(sum) | sum_of_lanes(_mm256_sad_epu8(n1, zero)) << kCount1 |
         sum_of_lanes(_mm256_sad_epu8(n2, zero)) << kCount2 | sum_of_lanes(_mm256_sad_epu8(n4, zero)) << kCount4;
}

#endif

}  // namespace

void spread_mask(const std::int32_t* exps, const ac3::MaskResult& m, int end, int floor, SpreadMask& out) {
  // Bins 253..255 belong to no band and get no bits. The psd is
  // 3072 - 128 exp, 0..3072.
  const int coded = std::min(end, kBandedBins);
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (ac3::avx2::available()) {
    spread_psd_avx2(exps, coded, floor, out.psd.data());
  } else
#endif
  {
    for (int b = 0; b < coded; ++b) out.psd[idx(b)] = static_cast<std::int16_t>(3072 - 128 * exps[idx(b)] - floor);
    std::fill(out.psd.begin() + coded, out.psd.end(), kNoBits);
  }
  // Bands of one bin up to kFirstWideBand; the wider ones are written 16
  // bins a step from their first bin, each band over the excess of the one
  // before (the array has room for the last band's excess).
  std::array<std::int16_t, ac3::kBands> band_mask;
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (ac3::avx2::available()) {
    band_masks_avx2(m.mask.data(), floor, band_mask.data());
  } else
#endif
  {
    for (int band = 0; band < ac3::kBands; ++band) band_mask[idx(band)] = to_16(m.mask[idx(band)] - floor);
  }
  std::copy_n(band_mask.begin(), kFirstWideBand, out.mask.begin());
  for (int band = kFirstWideBand; band < ac3::kBands; ++band) {
    std::int16_t* at = out.mask.data() + ac3::bndtab[idx(band)];
    for (int step = 0; step < ac3::bndsz[idx(band)]; step += 16) fill_16(at + step, band_mask[idx(band)]);
  }
  for (int b = kBandedBins; b < 256; ++b) out.mask[idx(b)] = 0;
}

std::uint64_t allocate_pointers(const SpreadMask& m, int snroffset, std::uint8_t* bap) {
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (ac3::avx2::available()) return allocate_avx2(m, snroffset, bap);
#endif
  return allocate_scalar(m, snroffset, bap);
}

std::uint32_t packed_block_bits(std::uint64_t packed) {
  constexpr std::uint64_t kField = (1u << 13) - 1;
  const auto n1 = static_cast<std::uint32_t>((packed >> kCount1) & kField);
  const auto n2 = static_cast<std::uint32_t>((packed >> kCount2) & kField);
  const auto n4 = static_cast<std::uint32_t>((packed >> kCount4) & kField);
  return static_cast<std::uint32_t>(packed & 0xFFFFFFu) + 5 * ((n1 + 2) / 3) + 7 * ((n2 + 2) / 3) + 7 * ((n4 + 1) / 2);
}

}  // namespace kelvor::transcode
