#pragma once
// Mantissa dequantisation (A/52 section 7.3): the grouped quantisers of bap
// 1, 2 and 4 share their pending values across all channels of a block.
//
// Allocation pointers arrive in no predictable order, so a bin is read
// without branching on its pointer: one table row per pointer gives the code
// width, the group it belongs to and the largest valid code. The loop leaves
// each bin's code and place in its group to dequantise_bins, which turns
// them into levels with no chain from bin to bin.
#include <array>
#include <bit>
#include <cstdint>

#include "ac3dec/ac3_math.h"
#include "ac3dec/dither.h"
#include "ac3dec/mantissa_levels.h"
#include "ac3dec/q24_avx2.h"
#include "ac3dec/tables.h"
#include "common/bit_reader.h"
#include "common/q24.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvor::ac3 {

// sqrt(1/2) in Q24: the scale of dither in bins without bits.
inline constexpr Q24 kDitherScale = 11863283;

// A two's-complement code of n bits, left-aligned and scaled so that the
// full code range spans [-1, 1) in Q24.
constexpr Q24 signed_fraction(std::uint32_t code, unsigned bits) {
  return static_cast<Q24>(code << (32 - bits)) >> 7;
}

namespace mantissa_detail {

// Marks a code outside its quantiser's range; no level comes near it.
inline constexpr Q24 kBadCode = INT32_MIN;

// Level tables of the quantisers of bap 0..5, three entries per code (the
// values of a group in order; one value for bap 3 and 5, two for bap 4).
struct LevelTable {
  std::array<Q24, 3 * (1 + 32 + 128 + 8 + 128 + 16)> levels{};
  std::array<std::uint16_t, 6> offset{};
};

constexpr LevelTable make_level_table() {
  LevelTable t;
  std::size_t at = 3;  // entry 0: bap 0, always 0
  const auto fill = [&](int bap, std::uint32_t codes, auto&& values) {
    t.offset[static_cast<std::size_t>(bap)] = static_cast<std::uint16_t>(at);
    for (std::uint32_t code = 0; code < codes; ++code) {
      const std::array<Q24, 3> v = values(code);
      for (std::size_t i = 0; i < 3; ++i) t.levels[at + 3 * code + i] = v[i];
    }
    at += 3 * codes;
  };
  fill(1, 32, [](std::uint32_t c) {
    return c > 26 ? std::array<Q24, 3>{kBadCode, 0, 0}
                  : std::array<Q24, 3>{kLevels3[c / 9], kLevels3[(c % 9) / 3], kLevels3[c % 3]};
  });
  fill(2, 128, [](std::uint32_t c) {
    return c > 124 ? std::array<Q24, 3>{kBadCode, 0, 0}
                   : std::array<Q24, 3>{kLevels5[c / 25], kLevels5[(c % 25) / 5], kLevels5[c % 5]};
  });
  fill(3, 8, [](std::uint32_t c) { return std::array<Q24, 3>{c > 6 ? kBadCode : kLevels7[c], 0, 0}; });
  fill(4, 128, [](std::uint32_t c) {
    return c > 120 ? std::array<Q24, 3>{kBadCode, 0, 0} : std::array<Q24, 3>{kLevels11[c / 11], kLevels11[c % 11], 0};
  });
  fill(5, 16, [](std::uint32_t c) { return std::array<Q24, 3>{c > 14 ? kBadCode : kLevels15[c], 0, 0}; });
  return t;
}
inline constexpr LevelTable kLevelTable = make_level_table();

// How a bin with a given bap is read; 16 bytes, so that the row of a bin
// is one shifted index.
// The place tables (below) of groups of three and of two, one after the other.
inline constexpr std::size_t kMaxGroupCount = 2048;  // more than the bins of a block
inline constexpr std::uint16_t kPlacesOf3 = 0;
inline constexpr std::uint16_t kPlacesOf2 = kMaxGroupCount;

struct BapRow {
  std::uint64_t count_step;  // 1 in the group's 16-bit counter, 0 when ungrouped
  std::uint16_t max_code;    // the largest code in the quantiser's range
  std::uint16_t places;      // the group's place table (ungrouped: that of two, read at count 0)
  std::uint8_t width;        // bits of a new code
  std::uint8_t group_shift;  // 16 * group (0 ungrouped, 1..3: the group of bap 1, 2, 4)
  std::uint8_t load_slot;    // of the pending code: the group, 4 when ungrouped
  std::uint8_t store_slot;   // of a new code: the group, 5 when ungrouped
};
static_assert(sizeof(BapRow) == 16);

constexpr std::array<BapRow, 16> make_bap_rows() {
  std::array<BapRow, 16> rows{};
  rows[0] = {0, 0, kPlacesOf2, 0, 0, 4, 5};
  rows[1] = {1ull << 16, 26, kPlacesOf3, 5, 16, 1, 1};
  rows[2] = {1ull << 32, 124, kPlacesOf3, 7, 32, 2, 2};
  rows[3] = {0, 6, kPlacesOf2, 3, 0, 4, 5};
  rows[4] = {1ull << 48, 120, kPlacesOf2, 7, 48, 3, 3};
  rows[5] = {0, 14, kPlacesOf2, 4, 0, 4, 5};
  for (std::size_t bap = 6; bap < 16; ++bap) rows[bap] = {0, 0xFFFF, kPlacesOf2, kMantissaBits[bap], 0, 4, 5};
  return rows;
}
// Indexed by any byte (a pointer above 15 reads as its low four bits), so
// that the loop need not mask it.
constexpr std::array<BapRow, 256> make_byte_rows() {
  const std::array<BapRow, 16> rows = make_bap_rows();
  std::array<BapRow, 256> all{};
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = rows[i & 15];
  return all;
}
inline constexpr std::array<BapRow, 256> kBapRows = make_byte_rows();

// The place of a bin in its group's code, by its count in the group: count
// mod 3 and count mod 2 (a table instead of a division: shorter, off the
// chain of bit reads).
constexpr std::array<std::uint8_t, 2 * kMaxGroupCount> make_places() {
  std::array<std::uint8_t, 2 * kMaxGroupCount> t{};
  for (std::size_t c = 0; c < kMaxGroupCount; ++c) {
    t[kPlacesOf3 + c] = static_cast<std::uint8_t>(c % 3);
    t[kPlacesOf2 + c] = static_cast<std::uint8_t>(c % 2);
  }
  return t;
}
inline constexpr auto kPlaces = make_places();

}  // namespace mantissa_detail

// The bins in [start, end) whose allocation pointer, masked by `mask`, is
// 0, in order, into `list`; returns how many. Sixteen pointers a step where
// SSE2 is there (every x86-64 processor): such bins are too frequent and too
// scattered for a branch per bin.
inline std::size_t list_bins_without_bits(const std::uint8_t* bap, int start, int end, std::uint8_t mask,
                                          std::uint16_t* list) {
  std::size_t n = 0;
  int bin = start;
#if defined(__SSE2__)
  const __m128i bits = _mm_set1_epi8(static_cast<char>(mask));
  for (; bin + 16 <= end; bin += 16) {
    const __m128i p = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bap + bin)), bits);
    auto zero = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(p, _mm_setzero_si128())));
    for (; zero != 0; zero &= zero - 1) list[n++] = static_cast<std::uint16_t>(bin + std::countr_zero(zero));
  }
#endif
  for (; bin < end; ++bin) {
    list[n] = static_cast<std::uint16_t>(bin);
    n += (bap[static_cast<std::size_t>(bin)] & mask) == 0 ? 1 : 0;
  }
  return n;
}

// The end of the bins in [start, end) that carry bits: one past the last
// whose allocation pointer (low four bits) is not 0, or start. A channel's
// top bins often have none; they need not pass through the reading loop.
inline int end_of_coded_bins(const std::uint8_t* bap, int start, int end) {
  int e = end;
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi8(15);
  for (; e - 16 >= start; e -= 16) {
    const __m128i p = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bap + e - 16)), low);
    const auto coded = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(p, _mm_setzero_si128()))) & 0xFFFFu;
    if (coded != 0) return e - 16 + (32 - std::countl_zero(coded));
  }
#endif
  while (e > start && (bap[static_cast<std::size_t>(e - 1)] & 15) == 0) --e;
  return e;
}

class MantissaReader {
 public:
  // Forgets pending group values; called at the start of every block.
  void start_block() { counts_ = 0; }

  // Reads the mantissas of bins [start, end) with allocation pointers `bap`
  // (0..15) into `out`. Bins without bits take dither when `dither` is set,
  // else 0. With kScale each value is shifted right by the bin's exponent in
  // `exps`; without, it is stored as read. Returns false at the first code
  // outside its quantiser's range, with the reader and the dither generator
  // left where that code ended.
  template <bool kScale>
  bool read_bins(BitReader& br, const std::uint8_t* bap, const std::int32_t* exps, int start, int end,
                 bool dither, Ac3Dither& generator, Q24* out);

 private:
  // Bins of each grouped quantiser met in this block, 16 bits per group
  // (bits 16g.., g = 1..3): a bin opens a new code when its count is a
  // multiple of the group size. Counting instead of tracking the place in
  // the pending code keeps the place of a bin off the chain of bit reads.
  std::uint64_t counts_ = 0;
  // The last code of each group in slots 1..3; slot 4 is never written,
  // slots 0 and 5 never read (see the loop).
  std::array<std::uint32_t, 8> codes_{};
  // Each bin's code and place in its group, from the reading loop to
  // dequantise_bins.
  std::array<std::uint32_t, 256> read_{};

  template <bool kScale>
  [[gnu::always_inline]] inline bool read_loop(BitReader& br, const std::uint8_t* bap, const std::int32_t* exps,
                                               int start, int end, bool dither, Ac3Dither& generator, Q24* out);
#ifdef KELVOR_HAVE_AVX2_PATH
  // The loop compiled for processors with BMI2, whose shifts by a variable
  // count need no particular register: the loop shifts by a variable count
  // five times a bin.
  template <bool kScale>
  __attribute__((target("bmi2"))) bool read_loop_bmi2(BitReader& br, const std::uint8_t* bap,
                                                      const std::int32_t* exps, int start, int end, bool dither,
                                                      Ac3Dither& generator, Q24* out) {
    return read_loop<kScale>(br, bap, exps, start, end, dither, generator, out);
  }
#endif
};

template <bool kScale>
bool MantissaReader::read_bins(BitReader& br, const std::uint8_t* bap, const std::int32_t* exps, int start,
                               int end, bool dither, Ac3Dither& generator, Q24* out) {
#ifdef KELVOR_HAVE_AVX2_PATH
  static const bool bmi2 = __builtin_cpu_supports("bmi2") != 0;
  if (bmi2) return read_loop_bmi2<kScale>(br, bap, exps, start, end, dither, generator, out);
#endif
  return read_loop<kScale>(br, bap, exps, start, end, dither, generator, out);
}

template <bool kScale>
inline bool MantissaReader::read_loop(BitReader& br, const std::uint8_t* bap, const std::int32_t* exps, int start,
                                      int end, bool dither, Ac3Dither& generator, Q24* out) {
  using namespace mantissa_detail;
  // Local copies stay in registers: stores to `out` cannot alias them.
  BitReader r = br;
  std::uint64_t counts = counts_;
  std::array<std::uint32_t, 8> codes = codes_;
  std::uint32_t* read = read_.data();
  bool ok = true;
  int bin = start;
  // Bins after the last one with bits read nothing and leave the groups
  // alone: they are 0 (or dither, below).
  const int coded_end = end_of_coded_bins(bap, start, end);
  for (; bin < coded_end; ++bin) {
    const auto b = static_cast<std::size_t>(bin);
    const BapRow& row = kBapRows[bap[b]];
    const auto count = static_cast<std::uint32_t>(counts >> row.group_shift) & (kMaxGroupCount - 1);
    counts += row.count_step;
    const std::uint32_t at = kPlaces[row.places + count];
    // Masks rather than conditions, so that the compiler does not branch.
    const std::uint32_t new_code = 0u - static_cast<std::uint32_t>(at == 0);
    const std::uint32_t fresh = r.read_bits(row.width & new_code);
    // A new code replaces its group's; a member of a group takes the pending
    // one. The pending code is read before the new one is stored, at an
    // address that follows from the row alone, so that the load need not
    // wait for the store beside it: ungrouped bins read slot 4 (never
    // written) and write slot 5 (never read); members of a group write
    // slot 0 (never read).
    const std::uint32_t pending = codes[row.load_slot];
    const std::uint32_t code = pending ^ ((pending ^ fresh) & new_code);
    codes[row.store_slot & (new_code | 4u)] = fresh;
    // A member of a group reads nothing (fresh is 0): only a new code can
    // lie outside its range.
    if (fresh > row.max_code) [[unlikely]] {
      ok = false;
      break;
    }
    read[b] = code_and_place(code, at);
  }
  dequantise_bins(bap, read, kScale ? exps : nullptr, start, bin, out);
  if (ok) {
    for (; bin < end; ++bin) out[static_cast<std::size_t>(bin)] = 0;
  }
  // Dither for the bins without bits before the last one read, drawn after
  // the others: stepping the generator in the loop above would chain every
  // bin to the one before, and listing those bins there costs it registers.
  if (dither) {
    std::array<std::uint16_t, 256> empty;
    const std::size_t n_empty = list_bins_without_bits(bap, start, bin, 15, empty.data());
    Ac3Dither d = generator;
    for (std::size_t i = 0; i < n_empty; ++i) {
      const std::size_t b = empty[i];
      Q24 value = mul_q24(d.dither_next(), kDitherScale);
      if constexpr (kScale) value = shr32(value, exps[b]);
      out[b] = value;
    }
    generator = d;
  }
  br = r;
  counts_ = counts;
  codes_ = codes;
  return ok;
}

}  // namespace kelvor::ac3
