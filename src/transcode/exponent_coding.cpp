#include "transcode/exponent_coding.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <limits>

#include "ac3dec/q24_avx2.h"

namespace kelvor::transcode {

namespace {
constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }
int bins_per_value(Strategy strategy) { return 1 << (strategy - 1); }
}  // namespace

int exponent_values(Strategy strategy, int end) {
  const int g = 3 * bins_per_value(strategy);
  return 3 * ((end + g - 4) / g);
}

namespace {

// Each value the least of the k bins it stands for (bins from 1 on), into v.
template <int k>
void least_of_groups(int n, const Exponents& exps, std::int32_t* v) {
  for (int i = 0; i < n; ++i) {
    std::int32_t m = exps[idx(1 + k * i)];
    for (int j = 1; j < k; ++j) m = std::min(m, exps[idx(1 + k * i + j)]);
    v[i] = m;
  }
}

// Each value back over its k bins.
template <int k>
void spread_groups(int n, const std::int32_t* v, Exponents& exps) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < k; ++j) exps[idx(1 + k * i + j)] = v[i];
  }
}

#if defined(KELVOR_HAVE_AVX2_PATH)

// Four bins a value: one value a 128-bit half, two a step.
__attribute__((target("avx2"))) void least_of_fours_avx2(int n, const Exponents& exps, std::int32_t* v) {
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    __m256i m = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(exps.data() + 1 + 4 * i));
    m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0xB1));
    m = _mm256_min_epi32(m, _mm256_shuffle_epi32(m, 0x4E));
    v[i] = _mm256_cvtsi256_si32(m);
    v[i + 1] = _mm256_extract_epi32(m, 4);
  }
  for (; i < n; ++i) {
    v[i] = std::min(std::min(exps[idx(1 + 4 * i)], exps[idx(2 + 4 * i)]),
                    std::min(exps[idx(3 + 4 * i)], exps[idx(4 + 4 * i)]));
  }
}

__attribute__((target("avx2"))) void spread_fours_avx2(int n, const std::int32_t* v, Exponents& exps) {
  int i = 0;
  for (; i + 2 <= n; i += 2) {
    const __m256i pair = _mm256_set_m128i(_mm_set1_epi32(v[i + 1]), _mm_set1_epi32(v[i]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(exps.data() + 1 + 4 * i), pair);
  }
  for (; i < n; ++i) {
    for (int j = 0; j < 4; ++j) exps[idx(1 + 4 * i + j)] = v[i];
  }
}

#endif

// v[i] = min over j of v[j] + 2 |i - j|: the two running minima side by
// side, each a chain of one operation a step.
void limit_steps(int n, std::int32_t* v) {
  std::array<std::int32_t, 256> left;
  std::array<std::int32_t, 256> right;
  std::int32_t from_left = std::numeric_limits<std::int32_t>::max() / 2;
  std::int32_t from_right = from_left;
  for (int i = 0; i < n; ++i) {
    const int j = n - 1 - i;
    from_left = std::min(from_left, v[i] - 2 * i);
    from_right = std::min(from_right, v[j] + 2 * j);
    left[idx(i)] = from_left + 2 * i;
    right[idx(j)] = from_right - 2 * j;
  }
  for (int i = 0; i < n; ++i) v[i] = std::min(left[idx(i)], right[idx(i)]);
}

#if defined(KELVOR_HAVE_AVX2_PATH)

// Eight lanes' minima over the lanes before them (the shuffles `by` take
// each lane 1, 2 and 4 back), and over `carry`.
__attribute__((target("avx2"))) inline __m256i running_min(__m256i x, const __m256i (&by)[3], __m256i carry) {
  for (const __m256i& shift : by) x = _mm256_min_epi32(x, _mm256_permutevar8x32_epi32(x, shift));
  return _mm256_min_epi32(x, carry);
}

// The same eight values a step: the minimum from the left in the lanes'
// order, the one from the right in the reverse order.
__attribute__((target("avx2"))) void limit_steps_avx2(int n, std::int32_t* v) {
  if (n <= 0) return;
  constexpr std::int32_t kNone = std::numeric_limits<std::int32_t>::max() / 2;  // changes no minimum
  const int rounded = (n + 7) & ~7;
  for (int i = n; i < rounded; ++i) v[i] = kNone;
  const __m256i up[3] = {_mm256_setr_epi32(0, 0, 1, 2, 3, 4, 5, 6), _mm256_setr_epi32(0, 1, 0, 1, 2, 3, 4, 5),
                         _mm256_setr_epi32(0, 1, 2, 3, 0, 1, 2, 3)};
  const __m256i down[3] = {_mm256_setr_epi32(1, 2, 3, 4, 5, 6, 7, 7), _mm256_setr_epi32(2, 3, 4, 5, 6, 7, 6, 7),
                           _mm256_setr_epi32(4, 5, 6, 7, 4, 5, 6, 7)};
  const __m256i twice = _mm256_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14);
  const auto load = [&](int i) __attribute__((target("avx2"))) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + i));
  };
  // From the left: 2 i + min over j <= i of v[j] - 2 j.
  __m256i left[32];
  __m256i carry = _mm256_set1_epi32(kNone);
  for (int i = 0; i < rounded; i += 8) {
    const __m256i at = _mm256_add_epi32(twice, _mm256_set1_epi32(2 * i));
    const __m256i x = running_min(_mm256_sub_epi32(load(i), at), up, carry);
    carry = _mm256_permutevar8x32_epi32(x, _mm256_set1_epi32(7));
    left[i / 8] = _mm256_add_epi32(x, at);
  }
  // From the right: min over j >= i of v[j] + 2 j, less 2 i.
  carry = _mm256_set1_epi32(kNone);
  for (int i = rounded - 8; i >= 0; i -= 8) {
    const __m256i at = _mm256_add_epi32(twice, _mm256_set1_epi32(2 * i));
    const __m256i x = running_min(_mm256_add_epi32(load(i), at), down, carry);
    carry = _mm256_permutevar8x32_epi32(x, _mm256_setzero_si256());
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(v + i), _mm256_min_epi32(_mm256_sub_epi32(x, at), left[i / 8]));
  }
}

#endif

// The processing for k bins a value, k fixed so that the inner loops unroll.
template <int k>
void process_with(int n, Exponents& exps) {
  std::array<std::int32_t, 256> v;
#if defined(KELVOR_HAVE_AVX2_PATH)
  const bool avx2 = k == 4 && ac3::avx2::available();
  if (avx2) {
    least_of_fours_avx2(n, exps, v.data());
  } else
#endif
  {
    least_of_groups<k>(n, exps, v.data());
  }
  std::int32_t abs = std::min(exps[0], 15);
  if (n > 0) v[0] = std::min(v[0], abs + 2);
  // Steps of at most 2 both ways: each value becomes the least of
  // v[j] + 2 |i - j| over all j, the lesser of a running minimum from the
  // left and one from the right.
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (ac3::avx2::available()) {
    limit_steps_avx2(n, v.data());
  } else
#endif
  {
    limit_steps(n, v.data());
  }
  if (n > 0) abs = std::min(abs, v[0] + 2);
  exps[0] = abs;
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (avx2) {
    spread_fours_avx2(n, v.data(), exps);
    return;
  }
#endif
  spread_groups<k>(n, v.data(), exps);
}

#if defined(KELVOR_HAVE_AVX2_PATH)
// The writer's loop with the shifts of BMI2.
__attribute__((target("bmi2"))) void put_codes_bmi2(BitWriter& bw, const std::uint16_t* codes,
                                                    const std::uint8_t* widths, std::size_t count) {
  bw.put_codes_unchecked(codes, widths, count);
}
#endif

}  // namespace

void process_exponents(Strategy strategy, int end, Exponents& exps) {
  const int n = exponent_values(strategy, end);
  switch (strategy) {
    case kD25: process_with<2>(n, exps); break;
    case kD45: process_with<4>(n, exps); break;
    default: process_with<1>(n, exps); break;
  }
}

void encode_exponents(Strategy strategy, int end, const Exponents& exps, BitWriter& bw) {
  const int k = bins_per_value(strategy);
  const int n = exponent_values(strategy, end);
  // The absolute exponent, then a 7-bit code a group (each below 125: the
  // steps are at most 2), written together.
  std::array<std::uint16_t, 1 + 256 / 3> codes;
  std::array<std::uint8_t, 1 + 256 / 3> widths;
  codes[0] = static_cast<std::uint16_t>(exps[0]);
  widths[0] = 4;
  std::size_t count = 1;
  std::int32_t prev = exps[0];
  for (int i = 0; i < n; i += 3) {
    const std::int32_t e1 = exps[idx(1 + k * i)];
    const std::int32_t e2 = exps[idx(1 + k * (i + 1))];
    const std::int32_t e3 = exps[idx(1 + k * (i + 2))];
    codes[count] = static_cast<std::uint16_t>(25 * (e1 - prev + 2) + 5 * (e2 - e1 + 2) + (e3 - e2 + 2));
    widths[count++] = 7;
    prev = e3;
  }
  if (bw.has_room_for(4 + 7 * (count - 1))) {
#if defined(KELVOR_HAVE_AVX2_PATH)
    static const bool bmi2 = __builtin_cpu_supports("bmi2") != 0;
    if (bmi2) {
      put_codes_bmi2(bw, codes.data(), widths.data(), count);
      return;
    }
#endif
    bw.put_codes_unchecked(codes.data(), widths.data(), count);
  } else {
    for (std::size_t i = 0; i < count; ++i) bw.put_bits(codes[i], widths[i]);
  }
}

}  // namespace kelvor::transcode
