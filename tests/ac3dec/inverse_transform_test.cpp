// The inverse transforms: against the closed form of the 512-sample
// transform in double precision, and the processor-specific paths against
// the portable code, value for value, including saturation.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "ac3dec/inverse_transform.h"
#include "ac3dec/transform_tables.h"
#include "ac3dec/window_table.h"

namespace kelvor {
namespace {

using Block = std::array<Q24, 256>;

Block RandomBlock(std::mt19937& rng, int bits) {
  Block b{};
  for (Q24& v : b) v = static_cast<Q24>(static_cast<std::int32_t>(rng()) >> (32 - bits));
  return b;
}

TEST(InverseTransform, LongTransformMatchesItsClosedForm) {
  // x[n] = -2 w[n] sum_k X[k] cos(pi / 1024 (2n + 1 + 256)(2k + 1)), then
  // overlap-added with the previous block's second half.
  std::mt19937 rng(7);
  const double pi = 3.14159265358979323846;
  const auto window = [](int n) { return ac3::kWindowTable[static_cast<std::size_t>(n < 256 ? n : 511 - n)] * 1e-5; };
  std::array<double, 512> previous{};
  Block delay{};
  for (int round = 0; round < 3; ++round) {
    const Block input = RandomBlock(rng, 22);
    std::array<double, 512> x{};
    for (int n = 0; n < 512; ++n) {
      double sum = 0;
      for (int k = 0; k < 256; ++k)
        sum += input[static_cast<std::size_t>(k)] * std::cos(pi / 1024.0 * (2 * n + 1 + 256) * (2 * k + 1));
      x[static_cast<std::size_t>(n)] = -2.0 * window(n) * sum;
    }
    Block out = input;
    ac3::inverse_transform_512(out, delay);
    double signal = 0;
    double error = 0;
    for (std::size_t n = 0; n < 256; ++n) {
      const double expected = x[n] + previous[n + 256];
      signal += expected * expected;
      error += (out[n] - expected) * (out[n] - expected);
    }
    previous = x;
    EXPECT_GT(10 * std::log10(signal / error), 110.0) << round;
  }
}

TEST(InverseTransform, ProcessorPathsEqualThePortableCode) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    // From quiet blocks to values that overflow every stage and saturate.
    const int bits = 8 + round % 25;
    const Block input = RandomBlock(rng, bits);
    Block delay_a = RandomBlock(rng, bits);
    Block delay_b = delay_a;
    Block a = input;
    Block b = input;
    ac3::inverse_transform_512(a, delay_a);
    ac3::inverse_transform_512_portable(b, delay_b);
    ASSERT_EQ(a, b) << "512, round " << round;
    ASSERT_EQ(delay_a, delay_b);
    a = input;
    b = input;
    ac3::inverse_transform_256(a, delay_a);
    ac3::inverse_transform_256_portable(b, delay_b);
    ASSERT_EQ(a, b) << "256, round " << round;
    ASSERT_EQ(delay_a, delay_b);
  }
  Block extreme{};
  for (std::size_t i = 0; i < extreme.size(); ++i) extreme[i] = i % 2 ? INT32_MAX : INT32_MIN;
  Block delay_a{};
  Block delay_b{};
  Block a = extreme;
  Block b = extreme;
  ac3::inverse_transform_512(a, delay_a);
  ac3::inverse_transform_512_portable(b, delay_b);
  EXPECT_EQ(a, b);
}

// Blocks within the quiet limit take plain sums; they must equal the code
// that saturates everything. The hardest such blocks put +-limit on every
// coefficient with the signs that make one output as large as it can be.
TEST(InverseTransform, QuietBlocksEqualTheSaturatingCode) {
  constexpr Q24 kLimit = ac3::kQuietLimit;
  std::vector<Block> blocks;
  for (const std::size_t target : {0u, 64u, 127u, 128u, 200u, 255u}) {
    for (const bool long_transform : {true, false}) {
      Block signs{};
      for (std::size_t k = 0; k < 256; ++k) {
        Block impulse{};
        impulse[k] = 1 << 20;
        Block delay{};
        if (long_transform) {
          ac3::inverse_transform_512_saturating(impulse, delay);
        } else {
          ac3::inverse_transform_256_saturating(impulse, delay);
        }
        signs[k] = delay[target] < 0 ? -kLimit : kLimit;  // second half: no overlap term
      }
      blocks.push_back(signs);
    }
  }
  std::mt19937 rng(5);
  for (int i = 0; i < 50; ++i) {
    Block b{};
    for (Q24& v : b) v = static_cast<Q24>(rng() % (2 * kLimit + 1)) - kLimit;
    blocks.push_back(b);
  }
  Block edges{};
  edges.fill(-kLimit);
  blocks.push_back(edges);
  edges[3] = -kLimit - 1;  // just outside: the saturating path
  blocks.push_back(edges);

  for (std::size_t i = 0; i < blocks.size(); ++i) {
    // Delay lines near full range, so the overlap-add still saturates.
    Block delay = RandomBlock(rng, 32);
    using Transform = void (*)(std::span<Q24, 256>, std::span<Q24, 256>);
    const std::array<std::array<Transform, 3>, 2> kinds{{
        {ac3::inverse_transform_512_saturating, ac3::inverse_transform_512, ac3::inverse_transform_512_portable},
        {ac3::inverse_transform_256_saturating, ac3::inverse_transform_256, ac3::inverse_transform_256_portable},
    }};
    for (const auto& kind : kinds) {
      Block expected = blocks[i];
      Block expected_delay = delay;
      kind[0](expected, expected_delay);
      for (std::size_t path = 1; path < 3; ++path) {
        Block out = blocks[i];
        Block out_delay = delay;
        kind[path](out, out_delay);
        ASSERT_EQ(out, expected) << "block " << i << " path " << path;
        ASSERT_EQ(out_delay, expected_delay) << "block " << i << " path " << path;
      }
    }
  }
}

}  // namespace
}  // namespace kelvor
