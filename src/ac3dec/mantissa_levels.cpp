#include "ac3dec/mantissa_levels.h"

#include <array>

#include "ac3dec/ac3_math.h"
#include "ac3dec/mantissas.h"
#include "ac3dec/q24_avx2.h"
#include "ac3dec/tables.h"

namespace kelvor::ac3 {

namespace {

using mantissa_detail::kLevelTable;

// Per pointer: the level entry of code 0 (the quantisers of pointers 0..5
// have level tables, three entries a code) and the shift that puts a
// linear code's sign at bit 31 (32 for the tabled ones: nothing is left).
struct LevelRows {
  std::array<std::int32_t, 16> first{};
  std::array<std::int32_t, 16> shift{};
};

constexpr LevelRows make_level_rows() {
  LevelRows r;
  for (std::size_t bap = 0; bap < 16; ++bap) {
    r.first[bap] = bap < 6 ? kLevelTable.offset[bap] : 0;
    r.shift[bap] = bap < 6 ? 32 : 32 - kMantissaBits[bap];
  }
  return r;
}
constexpr LevelRows kRows = make_level_rows();

inline Q24 level_of(std::uint8_t pointer, std::uint32_t code_place) {
  const std::size_t bap = pointer & 15u;
  const std::uint32_t code = code_place & 0xFFFFu;
  const std::uint32_t tabled = bap < 6 ? ~0u : 0u;
  const auto at = static_cast<std::size_t>(kRows.first[bap]) + ((3 * code) & tabled) + (code_place >> 16);
  const Q24 linear =
      static_cast<Q24>(static_cast<std::uint32_t>(std::uint64_t{code} << kRows.shift[bap])) >> 7;
  return kLevelTable.levels[at] + linear;
}

void dequantise_scalar(const std::uint8_t* bap, const std::uint32_t* codes, const std::int32_t* exps, int start,
                       int end, Q24* out) {
  for (int bin = start; bin < end; ++bin) {
    const auto b = static_cast<std::size_t>(bin);
    const Q24 value = level_of(bap[b], codes[b]);
    out[b] = exps != nullptr ? shr32(value, exps[b]) : value;
  }
}

#ifdef KELVOR_HAVE_AVX2_PATH
__attribute__((target("avx2"))) void dequantise_avx2(const std::uint8_t* bap, const std::uint32_t* codes,
                                                     const std::int32_t* exps, int start, int end, Q24* out) {
  using avx2::V;
  const V low4 = _mm256_set1_epi32(15);
  const V low16 = _mm256_set1_epi32(0xFFFF);
  const V six = _mm256_set1_epi32(6);
  const V seven = _mm256_set1_epi32(7);
  const V first = avx2::load(kRows.first.data());  // pointers 0..7; 6 and 7 hold 0
  const V shift_low = avx2::load(kRows.shift.data());
  const V shift_high = avx2::load(kRows.shift.data() + 8);
  int bin = start;
  for (; bin + 8 <= end; bin += 8) {
    const auto b = static_cast<std::size_t>(bin);
    const V p = _mm256_and_si256(
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bap + b))), low4);
    const V code_place = _mm256_loadu_si256(reinterpret_cast<const V*>(codes + b));
    const V code = _mm256_and_si256(code_place, low16);
    const V tabled = _mm256_cmpgt_epi32(six, p);
    const V triple = _mm256_add_epi32(_mm256_add_epi32(code, code), code);
    const V at = _mm256_add_epi32(_mm256_and_si256(_mm256_permutevar8x32_epi32(first, p), tabled),
                                  _mm256_add_epi32(_mm256_and_si256(triple, tabled), _mm256_srli_epi32(code_place, 16)));
    const V level = _mm256_i32gather_epi32(kLevelTable.levels.data(), at, 4);
    const V shift = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(shift_low, p),
                                       _mm256_permutevar8x32_epi32(shift_high, p), _mm256_cmpgt_epi32(p, seven));
    const V linear = _mm256_srai_epi32(_mm256_sllv_epi32(code, shift), 7);
    V value = _mm256_add_epi32(level, linear);
    if (exps != nullptr) {
      value = _mm256_srav_epi32(value, _mm256_and_si256(avx2::load(exps + b), _mm256_set1_epi32(31)));
    }
    avx2::store(out + b, value);
  }
  dequantise_scalar(bap, codes, exps, bin, end, out);
}
#endif

}  // namespace

void dequantise_bins(const std::uint8_t* bap, const std::uint32_t* codes, const std::int32_t* exps, int start,
                     int end, Q24* out) {
#ifdef KELVOR_HAVE_AVX2_PATH
  if (avx2::available()) {
    dequantise_avx2(bap, codes, exps, start, end, out);
    return;
  }
#endif
  dequantise_scalar(bap, codes, exps, start, end, out);
}

void dequantise_bins_portable(const std::uint8_t* bap, const std::uint32_t* codes, const std::int32_t* exps,
                              int start, int end, Q24* out) {
  dequantise_scalar(bap, codes, exps, start, end, out);
}

}  // namespace kelvor::ac3
