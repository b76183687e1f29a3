#include "transcode/exponent_coding.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <limits>


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

// The processing for k bins a value, k fixed so that the inner loops unroll.
template <int k>
void process_with(int n, Exponents& exps) {
  std::array<std::int32_t, 256> v;
  for (int i = 0; i < n; ++i) {
    std::int32_t m = exps[idx(1 + k * i)];
    for (int j = 1; j < k; ++j) m = std::min(m, exps[idx(1 + k * i + j)]);
    v[idx(i)] = m;
  }
  std::int32_t abs = std::min(exps[0], 15);
  if (n > 0) v[0] = std::min(v[0], abs + 2);
  // Steps of at most 2 both ways: each value becomes the least of
  // v[j] + 2 |i - j| over all j, the lesser of a running minimum from the
  // left and one from the right. The two run side by side, each a chain
  // of one operation a step.
  std::array<std::int32_t, 256> left;
  std::array<std::int32_t, 256> right;
  std::int32_t from_left = std::numeric_limits<std::int32_t>::max() / 2;
  std::int32_t from_right = from_left;
  for (int i = 0; i < n; ++i) {
    const int j = n - 1 - i;
    from_left = std::min(from_left, v[idx(i)] - 2 * i);
    from_right = std::min(from_right, v[idx(j)] + 2 * j);
    left[idx(i)] = from_left + 2 * i;
    right[idx(j)] = from_right - 2 * j;
  }
  for (int i = 0; i < n; ++i) v[idx(i)] = std::min(left[idx(i)], right[idx(i)]);
  if (n > 0) abs = std::min(abs, v[0] + 2);
  exps[0] = abs;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < k; ++j) exps[idx(1 + k * i + j)] = v[idx(i)];
  }
}

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
  bw.put_bits(static_cast<std::uint32_t>(exps[0]), 4);
  std::int32_t prev = exps[0];
  for (int i = 0; i < n; i += 3) {
    const std::int32_t e1 = exps[idx(1 + k * i)];
    const std::int32_t e2 = exps[idx(1 + k * (i + 1))];
    const std::int32_t e3 = exps[idx(1 + k * (i + 2))];
    const std::int32_t code = 25 * (e1 - prev + 2) + 5 * (e2 - e1 + 2) + (e3 - e2 + 2);
    bw.put_bits(static_cast<std::uint32_t>(code), 7);
    prev = e3;
  }
}

}  // namespace kelvor::transcode
