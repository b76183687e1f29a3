#include "ac3dec/bit_allocation.h"

#include <algorithm>

#include "ac3dec/q24_avx2.h"
#include "ac3dec/tables.h"

namespace kelvor::ac3 {

namespace {

std::int32_t logadd(std::int32_t a, std::int32_t b) {
  const std::int32_t c = a - b;
  const std::int32_t address = std::min((c < 0 ? -c : c) >> 1, 255);
  return (c >= 0 ? a : b) + latab[static_cast<std::size_t>(address)];
}

int calc_lowcomp(int lowcomp, std::int32_t b0, std::int32_t b1, int band) {
  if (band < 20) {
    if (b0 + 256 == b1) return band < 7 ? 384 : 320;
    if (b0 > b1) return std::max(0, lowcomp - 64);
    return lowcomp;
  }
  return std::max(0, lowcomp - 128);
}

}  // namespace

void compute_mask(std::span<const std::int32_t, 256> exps, const MaskInput& in, const BitAllocParams& params,
                  MaskResult& out) {
  const int start = in.start;
  const int end = in.end;
  if (start < 0 || end > 256 || start >= end) return;  // nothing to allocate
  for (int bin = start; bin < end; ++bin) out.psd[static_cast<std::size_t>(bin)] = 3072 - exps[static_cast<std::size_t>(bin)] * 128;

  // Integration of the psd into bands by log-addition.
  auto& bndpsd = out.bndpsd;
  int j = start;
  int k = masktab[static_cast<std::size_t>(start)];
  int lastbin = 0;
  do {
    lastbin = std::min(bndtab[static_cast<std::size_t>(k)] + bndsz[static_cast<std::size_t>(k)], end);
    std::int32_t sum = out.psd[static_cast<std::size_t>(j++)];
    for (; j < lastbin; ++j) sum = logadd(sum, out.psd[static_cast<std::size_t>(j)]);
    bndpsd[static_cast<std::size_t>(k++)] = sum;
  } while (end > lastbin && k < kBands);
  bndpsd[static_cast<std::size_t>(k)] = 0;  // read (never used) by the lowcomp test of the last band

  // Excitation: the fast and slow leaks, with low-frequency compensation for
  // channels that start at bin 0.
  const int bndstrt = masktab[static_cast<std::size_t>(start)];
  const int bndend = masktab[static_cast<std::size_t>(end - 1)] + 1;
  std::array<std::int32_t, kBands> excite{};
  const auto bp = [&](int b) { return bndpsd[static_cast<std::size_t>(b)]; };
  std::int32_t fastleak = in.fastleak;
  std::int32_t slowleak = in.slowleak;
  int begin = bndstrt;
  if (bndstrt == 0) {
    int lowcomp = calc_lowcomp(0, bp(0), bp(1), 0);
    excite[0] = bp(0) - in.fgain - lowcomp;
    lowcomp = calc_lowcomp(lowcomp, bp(1), bp(2), 1);
    excite[1] = bp(1) - in.fgain - lowcomp;
    begin = 7;
    for (int b = 2; b < 7; ++b) {
      const bool compare = bndend != 7 || b != 6;
      if (compare) lowcomp = calc_lowcomp(lowcomp, bp(b), bp(b + 1), b);
      fastleak = bp(b) - in.fgain;
      slowleak = bp(b) - params.sgain;
      excite[static_cast<std::size_t>(b)] = fastleak - lowcomp;
      if (compare && bp(b) <= bp(b + 1)) {
        begin = b + 1;
        break;
      }
    }
    for (int b = begin; b < std::min(bndend, 22); ++b) {
      if (bndend != 7 || b != 6) lowcomp = calc_lowcomp(lowcomp, bp(b), bp(b + 1), b);
      fastleak = std::max(fastleak - params.fdecay, bp(b) - in.fgain);
      slowleak = std::max(slowleak - params.sdecay, bp(b) - params.sgain);
      excite[static_cast<std::size_t>(b)] = std::max(fastleak - lowcomp, slowleak);
    }
    begin = 22;
  }
  for (int b = begin; b < bndend; ++b) {
    fastleak = std::max(fastleak - params.fdecay, bp(b) - in.fgain);
    slowleak = std::max(slowleak - params.sdecay, bp(b) - params.sgain);
    excite[static_cast<std::size_t>(b)] = std::max(fastleak, slowleak);
  }

  // Masking curve.
  for (int b = bndstrt; b < bndend; ++b) {
    std::int32_t e = excite[static_cast<std::size_t>(b)];
    if (bp(b) < params.dbknee) e += (params.dbknee - bp(b)) >> 2;
    out.mask[static_cast<std::size_t>(b)] = std::max(e, hth48[static_cast<std::size_t>(b)]);
  }
}

void apply_delta(const DeltaAllocation& dba, std::span<std::int32_t, kBands> mask) {
  if (dba.mode != 0 && dba.mode != 1) return;
  int band = 0;
  for (int seg = 0; seg < dba.nseg; ++seg) {
    band += dba.offset[static_cast<std::size_t>(seg)];
    const int ba = dba.ba[static_cast<std::size_t>(seg)];
    const int delta = (ba >= 4 ? ba - 3 : ba - 4) * 128;
    for (int n = 0; n < dba.length[static_cast<std::size_t>(seg)]; ++n, ++band) {
      // Segments that run past the last band are ignored.
      if (band < kBands) mask[static_cast<std::size_t>(band)] += delta;
    }
  }
}

namespace {

// bap[bin] from the bin's psd and the mask of its band, bin at a time.
void lookup_pointers(const std::int32_t* psd, const std::int32_t* mask, int start, int end, const std::uint8_t* table,
                     std::uint8_t* bap) {
  for (int bin = start; bin < end; ++bin) {
    const auto b = static_cast<std::size_t>(bin);
    bap[b] = table[static_cast<std::size_t>(std::clamp((psd[b] - mask[b]) >> 5, 0, 63))];
  }
}

#ifdef KELVOR_HAVE_AVX2_PATH
// The same sixteen bins a step: the 64-entry table as four 16-byte
// shuffles, the one for each address picked by its top two bits.
__attribute__((target("avx2"))) void lookup_pointers_avx2(const std::int32_t* psd, const std::int32_t* mask,
                                                          int start, int end, const std::uint8_t* table,
                                                          std::uint8_t* bap) {
  const auto quarter = [table](int q) __attribute__((target("avx2"))) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 16 * q));
  };
  const __m128i t0 = quarter(0), t1 = quarter(1), t2 = quarter(2), t3 = quarter(3);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i top = _mm256_set1_epi32(63);
  const __m128i low4 = _mm_set1_epi8(15);
  int bin = start;
  for (; bin + 16 <= end; bin += 16) {
    const auto address = [&](int at) __attribute__((target("avx2"))) {
      const __m256i d = _mm256_sub_epi32(avx2::load(psd + at), avx2::load(mask + at));
      return _mm256_min_epi32(_mm256_max_epi32(_mm256_srai_epi32(d, 5), zero), top);
    };
    // 32-bit addresses to bytes, in order (the packs work within 128-bit halves).
    const __m256i words = _mm256_permute4x64_epi64(_mm256_packs_epi32(address(bin), address(bin + 8)), 0xD8);
    const __m128i a = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
    const __m128i low = _mm_and_si128(a, low4);
    const __m128i quarter_of = _mm_and_si128(_mm_srli_epi16(a, 4), low4);
    __m128i p = _mm_shuffle_epi8(t0, low);
    p = _mm_blendv_epi8(p, _mm_shuffle_epi8(t1, low), _mm_cmpeq_epi8(quarter_of, _mm_set1_epi8(1)));
    p = _mm_blendv_epi8(p, _mm_shuffle_epi8(t2, low), _mm_cmpeq_epi8(quarter_of, _mm_set1_epi8(2)));
    p = _mm_blendv_epi8(p, _mm_shuffle_epi8(t3, low), _mm_cmpeq_epi8(quarter_of, _mm_set1_epi8(3)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bap + bin), p);
  }
  lookup_pointers(psd, mask, bin, end, table, bap);
}
#endif

// The bins' band masks, then the pointers: the bins covered, from start.
template <bool kVector>
void compute_bap_with(const MaskResult& m, int start, int end, int snroffset, int floor,
                      std::span<const std::uint8_t, 64> table, std::span<std::uint8_t, 256> bap) {
  if (start < 0 || end > 256 || start >= end) return;
  std::array<std::int32_t, 256> bin_mask;
  int bin = start;
  int band = masktab[static_cast<std::size_t>(start)];
  int lastbin = 0;
  do {
    lastbin = std::min(bndtab[static_cast<std::size_t>(band)] + bndsz[static_cast<std::size_t>(band)], end);
    std::int32_t mask = m.mask[static_cast<std::size_t>(band)] - snroffset - floor;
    if (mask < 0) mask = 0;
    mask = (mask & 0x1FE0) + floor;
    for (; bin < lastbin; ++bin) bin_mask[static_cast<std::size_t>(bin)] = mask;
    ++band;
  } while (end > lastbin && band < kBands);
#ifdef KELVOR_HAVE_AVX2_PATH
  if (kVector && avx2::available()) {
    lookup_pointers_avx2(m.psd.data(), bin_mask.data(), start, bin, table.data(), bap.data());
    return;
  }
#endif
  lookup_pointers(m.psd.data(), bin_mask.data(), start, bin, table.data(), bap.data());
}

}  // namespace

void compute_bap(const MaskResult& m, int start, int end, int snroffset, int floor,
                 std::span<const std::uint8_t, 64> table, std::span<std::uint8_t, 256> bap) {
  compute_bap_with<true>(m, start, end, snroffset, floor, table, bap);
}

void compute_bap_portable(const MaskResult& m, int start, int end, int snroffset, int floor,
                          std::span<const std::uint8_t, 64> table, std::span<std::uint8_t, 256> bap) {
  compute_bap_with<false>(m, start, end, snroffset, floor, table, bap);
}

}  // namespace kelvor::ac3
