#include "transcode/mantissa_coding.h"

#include <algorithm>
#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "ac3dec/mantissas.h"
#include "ac3dec/q24_avx2.h"
#include "ac3dec/tables.h"

namespace kelvor::transcode {

namespace {

constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }

// Bits of one code by pointer; for the grouped quantisers, of a group code.
constexpr std::array<std::uint8_t, 16> kCodeBits = {0, 5, 7, 3, 7, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16};

// Index of the level nearest to |coef| << exp among `levels` symmetric levels.
std::uint32_t symmetric_index(Q24 coef, std::int32_t exp, std::uint32_t levels) {
  const std::int64_t magnitude = coef < 0 ? -static_cast<std::int64_t>(coef) : coef;
  const std::int64_t x = magnitude << exp;
  const std::uint32_t half = (levels - 1) / 2;
  const auto c = static_cast<std::uint32_t>(std::min<std::int64_t>((((levels * x) >> 24) + 1) >> 1, half));
  return coef >= 0 ? half + c : half - c;
}

// A two's-complement code of `bits` bits for coef << exp, rounded: the
// rounded coef * 2^(bits + exp - 25). |coef| stays below 2^(25 - exp) (the
// exponent is at most the coefficient's own, or 0), so the product fits.
std::uint16_t linear_code(Q24 coef, std::int32_t exp, unsigned bits) {
  const std::int64_t q = ((static_cast<std::int64_t>(coef) << (static_cast<int>(bits) + exp)) + (1 << 24)) >> 25;
  const std::int64_t limit = std::int64_t{1} << (bits - 1);
  const std::int64_t clamped = std::clamp(q, -limit, limit - 1);
  return static_cast<std::uint16_t>(static_cast<std::uint64_t>(clamped) & ((1u << bits) - 1u));
}

// The quantiser of each pointer, so that the first pass codes a bin
// without branching on its pointer (pointers arrive in no predictable
// order): levels of the symmetric quantisers (1 for pointer 0, whose code
// is 0), or 0 and the bits of the linear code (5 where it goes unused).
struct PointerRow {
  std::uint32_t levels;
  std::uint32_t bits;
};

constexpr std::array<PointerRow, 16> make_pointer_rows() {
  std::array<PointerRow, 16> rows{};
  constexpr std::array<std::uint32_t, 6> kSymmetricLevels = {1, 3, 5, 7, 11, 15};
  for (std::size_t p = 0; p < 16; ++p) {
    rows[p] = p < 6 ? PointerRow{kSymmetricLevels[p], 5} : PointerRow{0, ac3::kMantissaBits[p]};
  }
  return rows;
}
constexpr std::array<PointerRow, 16> kPointerRows = make_pointer_rows();

#if defined(KELVOR_HAVE_AVX2_PATH)

// A pointer's row in one lane: levels below bit 16, bits above.
constexpr std::array<std::int32_t, 16> make_pointer_lanes() {
  std::array<std::int32_t, 16> lanes{};
  for (std::size_t p = 0; p < 16; ++p) {
    lanes[p] = static_cast<std::int32_t>(kPointerRows[p].levels | kPointerRows[p].bits << 16);
  }
  return lanes;
}
alignas(32) constexpr std::array<std::int32_t, 16> kPointerLanes = make_pointer_lanes();

// The first pass over eight bins in 32-bit lanes: x = |coef| << exp stays
// below 2^25 (the exponent is at most the coefficient's own; where it is 0
// and the coefficient larger, limiting it to 2^25 - 1 saturates the codes
// just as the scalar pass), so levels * x fits, and the linear code is the
// rounded (coef << exp) / 2^(25 - bits).
__attribute__((target("avx2"))) inline __m256i eight_codes(const Q24* coef, const std::int32_t* exps,
                                                            const std::uint8_t* bap) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i top = _mm256_set1_epi32((1 << 25) - 1);
  const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coef));
  const __m256i e = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(exps));
  const __m256i p = _mm256_and_si256(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(bap))),
                                     _mm256_set1_epi32(15));
  const auto* lanes = reinterpret_cast<const __m256i*>(kPointerLanes.data());
  const __m256i row = _mm256_blendv_epi8(_mm256_permutevar8x32_epi32(_mm256_load_si256(lanes), p),
                                         _mm256_permutevar8x32_epi32(_mm256_load_si256(lanes + 1), p),
                                         _mm256_cmpgt_epi32(p, _mm256_set1_epi32(7)));
  const __m256i levels = _mm256_and_si256(row, _mm256_set1_epi32(0xFFFF));
  const __m256i bits = _mm256_srli_epi32(row, 16);
  const __m256i v = _mm256_max_epi32(_mm256_min_epi32(_mm256_sllv_epi32(c, e), top), _mm256_sub_epi32(zero, top));
  // Symmetric: the index of the nearest of `levels` levels.
  const __m256i half = _mm256_srli_epi32(_mm256_sub_epi32(levels, one), 1);
  const __m256i scaled = _mm256_srli_epi32(_mm256_mullo_epi32(levels, _mm256_abs_epi32(v)), 24);
  const __m256i k = _mm256_min_epi32(_mm256_srli_epi32(_mm256_add_epi32(scaled, one), 1), half);
  const __m256i symmetric =
      _mm256_blendv_epi8(_mm256_add_epi32(half, k), _mm256_sub_epi32(half, k), _mm256_cmpgt_epi32(zero, c));
  // Linear: rounded, limited to the code's range, two's complement.
  const __m256i round = _mm256_sllv_epi32(one, _mm256_sub_epi32(_mm256_set1_epi32(24), bits));
  const __m256i q = _mm256_srav_epi32(_mm256_add_epi32(v, round), _mm256_sub_epi32(_mm256_set1_epi32(25), bits));
  const __m256i limit = _mm256_sllv_epi32(one, _mm256_sub_epi32(bits, one));
  const __m256i clamped =
      _mm256_min_epi32(_mm256_max_epi32(q, _mm256_sub_epi32(zero, limit)), _mm256_sub_epi32(limit, one));
  const __m256i linear = _mm256_and_si256(clamped, _mm256_sub_epi32(_mm256_add_epi32(limit, limit), one));
  return _mm256_blendv_epi8(symmetric, linear, _mm256_cmpeq_epi32(levels, zero));
}

// The first pass over the bins below `end` when there are at least 16;
// returns the bins done.
__attribute__((target("avx2"))) int first_pass_avx2(const Q24* coef, const std::int32_t* exps, const std::uint8_t* bap,
                                                    int end, std::uint16_t* codes) {
  if (end < 16) return 0;
  const auto sixteen = [&](int bin) __attribute__((target("avx2"))) {
    const __m256i both = _mm256_packus_epi32(eight_codes(coef + bin, exps + bin, bap + bin),
                                             eight_codes(coef + bin + 8, exps + bin + 8, bap + bin + 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(codes + bin), _mm256_permute4x64_epi64(both, 0xD8));
  };
  int bin = 0;
  for (; bin + 16 <= end; bin += 16) sixteen(bin);
  // The rest as the last 16 bins: each bin's code depends on that bin alone.
  if (bin < end) sixteen(end - 16);
  return end;
}

#endif

#if defined(KELVOR_HAVE_AVX2_PATH)

// The codes and widths pack_mantissas writes, 32 bins a step up to `end`
// rounded up (all 256 entries are there to read); returns at least their
// total width.
__attribute__((target("avx2"))) std::size_t code_widths_avx2(const std::uint16_t* codes, const std::uint8_t* bap, int end,
                                                             std::uint16_t* values, std::uint8_t* widths) {
  const __m256i bits = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(kCodeBits.data())));
  const __m256i in_group = _mm256_set1_epi16(static_cast<std::int16_t>(kInGroup));
  __m256i total = _mm256_setzero_si256();
  for (int bin = 0; bin < end; bin += 32) {
    const __m256i p = _mm256_and_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bap + bin)),
                                       _mm256_set1_epi8(15));
    const __m256i grouped = _mm256_or_si256(
        _mm256_or_si256(_mm256_cmpeq_epi8(p, _mm256_set1_epi8(1)), _mm256_cmpeq_epi8(p, _mm256_set1_epi8(2))),
        _mm256_cmpeq_epi8(p, _mm256_set1_epi8(4)));
    const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes + bin));
    const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes + bin + 16));
    const __m256i low_member = _mm256_cmpeq_epi16(low, in_group);
    const __m256i high_member = _mm256_cmpeq_epi16(high, in_group);
    const __m256i code_member =
        _mm256_permute4x64_epi64(_mm256_packs_epi16(low_member, high_member), 0xD8);
    const __m256i member = _mm256_and_si256(grouped, code_member);
    // Widths past `end` count too: the total only bounds the room needed.
    const __m256i width = _mm256_andnot_si256(member, _mm256_shuffle_epi8(bits, p));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(widths + bin), width);
    total = _mm256_add_epi64(total, _mm256_sad_epu8(width, _mm256_setzero_si256()));
    // A member's code is all ones: zero where the pointer is grouped too.
    const __m256i low_grouped = _mm256_cvtepi8_epi16(_mm256_castsi256_si128(member));
    const __m256i high_grouped = _mm256_cvtepi8_epi16(_mm256_extracti128_si256(member, 1));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(values + bin), _mm256_andnot_si256(low_grouped, low));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(values + bin + 16), _mm256_andnot_si256(high_grouped, high));
  }
  const __m128i sum = _mm_add_epi64(_mm256_castsi256_si128(total), _mm256_extracti128_si256(total, 1));
  return static_cast<std::size_t>(_mm_cvtsi128_si64(sum)) + static_cast<std::size_t>(_mm_extract_epi64(sum, 1));
}

// The codes and widths made 32 at a time, then written with the shifts of
// BMI2 (the writer's loop shifts by variable counts) where there is room.
__attribute__((target("avx2,bmi2"))) void pack_avx2(const std::uint16_t* codes, const std::uint8_t* bap, int end,
                                                   BitWriter& bw) {
  std::array<std::uint16_t, 256> values;
  std::array<std::uint8_t, 256> widths;
  const std::size_t bits = code_widths_avx2(codes, bap, end, values.data(), widths.data());
  const auto n = static_cast<std::size_t>(end);
  if (bw.has_room_for(bits)) {
    bw.put_codes_unchecked(values.data(), widths.data(), n);
  } else {
    for (std::size_t b = 0; b < n; ++b) bw.put_bits(values[b], widths[b]);
  }
}

#endif

// The bins of [0, end) whose pointer (low four bits) is 1, 2 or 4, in
// order, into a list per pointer (room for end + 8). With AVX2 sixteen
// pointers a step, the bins found moved to the front of each half by a
// shuffle (a branch per bin found mispredicts: pointers follow no pattern).
#if defined(KELVOR_HAVE_AVX2_PATH)

// Per 8-bit mask: the byte shuffle that moves the lanes set to the front.
constexpr std::array<std::uint64_t, 256> make_left_pack() {
  std::array<std::uint64_t, 256> table{};
  for (std::size_t mask = 0; mask < 256; ++mask) {
    std::uint64_t order = 0;
    unsigned k = 0;
    for (unsigned lane = 0; lane < 8; ++lane) {
      if ((mask >> lane) & 1u) order |= std::uint64_t{lane} << (8 * k++);
    }
    table[mask] = order;
  }
  return table;
}
constexpr std::array<std::uint64_t, 256> kLeftPack = make_left_pack();

// All three lists in one pass, for end at least 16; returns their lengths.
__attribute__((target("avx2"))) std::array<std::size_t, 3> list_grouped_bins_avx2(
    const std::uint8_t* bap, int end, const std::array<std::uint8_t*, 3>& lists) {
  const __m128i low = _mm_set1_epi8(15);
  const __m128i want[3] = {_mm_set1_epi8(1), _mm_set1_epi8(2), _mm_set1_epi8(4)};
  const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  std::array<std::size_t, 3> n{};
  const auto sixteen = [&](int first, unsigned skip) __attribute__((target("avx2"))) {
    const __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bap + first)), low);
    const __m128i bins = _mm_add_epi8(lanes, _mm_set1_epi8(static_cast<char>(first)));
    const __m128i high_bins = _mm_srli_si128(bins, 8);
    for (std::size_t g = 0; g < 3; ++g) {
      const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, want[g]))) & (0xFFFFu << skip);
      const auto half = [&](__m128i from, unsigned mask) __attribute__((target("avx2"))) {
        const __m128i order = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&kLeftPack[mask]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(lists[g] + n[g]), _mm_shuffle_epi8(from, order));
        n[g] += static_cast<std::size_t>(std::popcount(mask));
      };
      half(bins, hits & 0xFFu);
      half(high_bins, hits >> 8);
    }
  };
  int bin = 0;
  for (; bin + 16 <= end; bin += 16) sixteen(bin, 0);
  if (bin < end) sixteen(end - 16, static_cast<unsigned>(bin - (end - 16)));
  return n;
}

#endif

// One list, for pointer p; returns its length.
std::size_t list_bins_with_pointer(const std::uint8_t* bap, int end, std::uint8_t p, std::uint8_t* list) {
  std::size_t n = 0;
  int bin = 0;
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi8(15);
  const __m128i want = _mm_set1_epi8(static_cast<char>(p));
  for (; bin + 16 <= end; bin += 16) {
    const __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bap + bin)), low);
    auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, want)));
    for (; hits != 0; hits &= hits - 1) list[n++] = static_cast<std::uint8_t>(bin + std::countr_zero(hits));
  }
#endif
  for (; bin < end; ++bin) {
    list[n] = static_cast<std::uint8_t>(bin);
    n += (bap[idx(bin)] & 15u) == p ? 1 : 0;
  }
  return n;
}

// One grouped quantiser over its bins: the indices combine into a code of
// weights w at the group's first member, which may lie in an earlier
// channel of the block (the open group).
template <std::size_t kMembers>
void group_codes(const std::array<std::uint16_t, kMembers>& w, const std::uint8_t* list, std::size_t n,
                 std::uint16_t* codes, std::uint16_t*& open_code, std::uint16_t& open_value, int& open_members) {
  std::size_t i = 0;
  const auto join = [&](std::uint16_t* at) {
    open_value = static_cast<std::uint16_t>(open_value + w[idx(open_members)] * *at);
    *at = kInGroup;
    *open_code = open_value;
    open_members = open_members + 1 == static_cast<int>(kMembers) ? 0 : open_members + 1;
  };
  for (; open_members != 0 && i < n; ++i) join(&codes[list[i]]);
  // Whole groups, independent of one another.
  for (; i + kMembers <= n; i += kMembers) {
    std::uint16_t* first = &codes[list[i]];
    auto value = static_cast<std::uint16_t>(w[0] * *first);
    for (std::size_t k = 1; k < kMembers; ++k) {
      std::uint16_t* at = &codes[list[i + k]];
      value = static_cast<std::uint16_t>(value + w[k] * *at);
      *at = kInGroup;
    }
    *first = value;
  }
  // The rest opens a group that a later channel may complete.
  if (i < n) {
    open_code = &codes[list[i]];
    open_value = static_cast<std::uint16_t>(w[0] * *open_code);
    *open_code = open_value;
    open_members = 1;
    for (++i; i < n; ++i) join(&codes[list[i]]);
  }
}

}  // namespace

void MantissaQuantiser::quantise(const Q24* coef, const std::int32_t* exps, const std::uint8_t* bap, int end,
                                 std::uint16_t* codes) {
  // Bins after the last one with bits have no code (pack_mantissas writes
  // nothing for them): a channel's top bins often have none.
  end = ac3::end_of_coded_bins(bap, 0, end);
  // First every bin alone: its code, or for pointers 1, 2 and 4 its index.
  int first = 0;
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (ac3::avx2::available()) first = first_pass_avx2(coef, exps, bap, end, codes);
#endif
  for (int bin = first; bin < end; ++bin) {
    const auto b = idx(bin);
    const PointerRow& row = kPointerRows[bap[b] & 15u];
    const std::uint32_t symmetric = symmetric_index(coef[b], exps[b], row.levels);
    const std::uint32_t linear = linear_code(coef[b], exps[b], row.bits);
    codes[b] = static_cast<std::uint16_t>(row.levels != 0 ? symmetric : linear);
  }
  // Then each grouped quantiser over its own bins.
  std::array<std::array<std::uint8_t, 256 + 8>, 3> lists;
  std::array<std::size_t, 3> n{};
  constexpr std::array<std::uint8_t, 3> kGroupedPointers = {1, 2, 4};
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (end >= 16 && ac3::avx2::available()) {
    n = list_grouped_bins_avx2(bap, end, {lists[0].data(), lists[1].data(), lists[2].data()});
  } else
#endif
  {
    for (std::size_t g = 0; g < 3; ++g) n[g] = list_bins_with_pointer(bap, end, kGroupedPointers[g], lists[g].data());
  }
  const auto group = [&](std::size_t g, const auto& weights) {
    group_codes(weights, lists[g].data(), n[g], codes, open_[g].code, open_[g].value, open_[g].members);
  };
  group(0, std::array<std::uint16_t, 3>{9, 3, 1});
  group(1, std::array<std::uint16_t, 3>{25, 5, 1});
  group(2, std::array<std::uint16_t, 2>{11, 1});
}

void pack_mantissas(const std::uint16_t* codes, const std::uint8_t* bap, int end, BitWriter& out) {
  // A local copy keeps the writer's state in registers: its byte stores
  // could alias any member of the caller's.
  BitWriter bw = out;
  end = ac3::end_of_coded_bins(bap, 0, end);
#if defined(KELVOR_HAVE_AVX2_PATH)
  static const bool vector_path = ac3::avx2::available() && __builtin_cpu_supports("bmi2") != 0;
  if (vector_path) {
    pack_avx2(codes, bap, end, bw);
    out = bw;
    return;
  }
#endif
  // Each bin's code and width: nothing for pointer 0 and for group members
  // after the first. Every code is below 2 to the power of its width.
  std::array<std::uint16_t, 256> values;
  std::array<std::uint8_t, 256> widths;
  std::size_t bits = 0;
  for (int bin = 0; bin < end; ++bin) {
    const unsigned p = bap[idx(bin)] & 15u;
    const bool member = ((0x16u >> p) & 1u) != 0 && codes[idx(bin)] == kInGroup;
    widths[idx(bin)] = member ? 0 : kCodeBits[p];
    values[idx(bin)] = member ? 0 : codes[idx(bin)];
    bits += widths[idx(bin)];
  }
  const auto n = static_cast<std::size_t>(end);
  if (bw.has_room_for(bits)) {
    bw.put_codes_unchecked(values.data(), widths.data(), n);
  } else {
    for (std::size_t b = 0; b < n; ++b) bw.put_bits(values[b], widths[b]);
  }
  out = bw;
}

}  // namespace kelvor::transcode
