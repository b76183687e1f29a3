// The AC-3 writer's vector paths against the plain ones: masks and
// pointers as the decoder finds them, codes quantised many bins at once or
// one at a time, and packing with or without room to spare.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <vector>

#include "ac3dec/bit_allocation.h"
#include "ac3dec/tables.h"
#include "transcode/bit_writer.h"
#include "transcode/exponent_coding.h"
#include "transcode/mantissa_coding.h"
#include "transcode/mask_batch.h"
#include "transcode/pointer_allocation.h"

namespace kelvor::transcode {
namespace {

constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }

// Eleven channels (a full batch of eight and a part): the LFE, narrow and
// full bandwidths, each parameter code, exponents random, smooth, silent
// and loud.
TEST(FastPaths, MasksAndPointersAreTheDecoders) {
  std::mt19937 rng(3);
  constexpr int kJobs = 11;
  std::vector<Exponents> exps(kJobs);
  std::vector<MaskJob> jobs(kJobs);
  for (int j = 0; j < kJobs; ++j) {
    Exponents& e = exps[idx(j)];
    int walk = 12;
    for (int bin = 0; bin < 256; ++bin) {
      walk = std::clamp(walk + static_cast<int>(rng() % 5) - 2, 0, 24);
      e[idx(bin)] = j % 4 == 0 ? static_cast<int>(rng() % 25) : j % 4 == 1 ? walk : j % 4 == 2 ? 24 : 0;
    }
    const int end = j == 0 ? 7 : 73 + 3 * ((17 * j) % 61);
    const ac3::BitAllocParams params{ac3::kSlowDecay[idx(j % 4)], ac3::kFastDecay[idx((j + 1) % 4)],
                                     ac3::kSlowGain[idx((j + 2) % 4)], ac3::kDbPerBit[idx((j + 3) % 4)],
                                     ac3::kFloor[idx(j % 8)]};
    jobs[idx(j)] = {e.data(), end, ac3::kFastGain[idx((5 * j) % 8)], params, kJobs - 1 - j};
  }
  std::vector<ac3::MaskResult> results(kJobs);
  compute_mask_batch(jobs, results);
  for (const MaskJob& job : jobs) {
    SCOPED_TRACE(job.result);
    ac3::MaskResult want;
    ac3::MaskInput in;
    in.end = job.end;
    in.fgain = job.fgain;
    ac3::compute_mask(std::span<const std::int32_t, 256>(job.exps, 256), in, job.params, want);
    const ac3::MaskResult& got = results[idx(job.result)];
    const int bands = ac3::masktab[idx(job.end - 1)] + 1;
    EXPECT_TRUE(std::equal(want.mask.begin(), want.mask.begin() + bands, got.mask.begin()));

    SpreadMask spread;
    spread_mask(job.exps, got, job.end, job.params.floor, spread);
    for (const int a : {1, 200, 512, 800, 1023}) {
      const int snroffset = 4 * a - 960;
      std::array<std::uint8_t, 256> want_bap{};
      ac3::compute_bap(want, 0, job.end, snroffset, job.params.floor, ac3::baptab, want_bap);
      std::array<std::uint8_t, 256> bap{};
      const std::uint64_t packed = allocate_pointers(spread, snroffset, bap.data());
      EXPECT_EQ(bap, want_bap) << a;
      // The count as the writer charges it: ungrouped codes, then groups.
      std::array<std::uint32_t, 16> n{};
      for (const std::uint8_t p : want_bap) ++n[p];
      std::uint32_t bits = 5 * ((n[1] + 2) / 3) + 7 * ((n[2] + 2) / 3) + 7 * ((n[4] + 1) / 2) + 3 * n[3] + 4 * n[5];
      for (std::size_t p = 6; p < 16; ++p) bits += ac3::kMantissaBits[p] * n[p];
      EXPECT_EQ(packed_block_bits(packed), bits) << a;
    }
  }
}

// Random pointers and coefficients, a few beyond 1.0: the codes of one
// call (vector passes, whole groups) equal those of one call a bin (plain
// pass, every group left open for the next call). Packed, with and
// without room to spare, they give the same bytes.
TEST(FastPaths, QuantiseAndPackAtOnceOrBinByBin) {
  std::mt19937 rng(5);
  std::array<Q24, 256> coef{};
  std::array<std::int32_t, 256> exps{};
  std::array<std::uint8_t, 256> bap{};
  for (std::size_t b = 0; b < 256; ++b) {
    const auto magnitude = static_cast<Q24>(rng() >> (b % 7 == 0 ? 5 : 8 + rng() % 20));
    coef[b] = (rng() & 1) ? magnitude : -magnitude;
    exps[b] = std::max(0, exponent_of(coef[b]) - static_cast<int>(rng() % 3));
    bap[b] = static_cast<std::uint8_t>(rng() % 3 == 0 ? 1 + rng() % 4 : rng() % 16);
  }
  std::array<std::uint16_t, 256> together{};
  std::array<std::uint16_t, 256> one_by_one{};
  MantissaQuantiser q;
  q.start_block();
  q.quantise(coef.data(), exps.data(), bap.data(), 256, together.data());
  q.start_block();
  for (std::size_t b = 0; b < 256; ++b) q.quantise(&coef[b], &exps[b], &bap[b], 1, &one_by_one[b]);
  EXPECT_EQ(together, one_by_one);

  // Bytes past the writer's buffer (a guard) stay untouched.
  constexpr std::size_t kGuard = 16;
  const auto pack = [&](std::size_t size) {
    std::vector<std::uint8_t> out(size + kGuard, 0xA5);
    BitWriter bw{std::span<std::uint8_t>(out).first(size)};
    bw.put_bits(5, 3);  // the codes start inside a byte
    pack_mantissas(together.data(), bap.data(), 256, bw);
    bw.flush();
    EXPECT_FALSE(bw.overflowed());
    EXPECT_TRUE(std::all_of(out.end() - kGuard, out.end(), [](std::uint8_t b) { return b == 0xA5; })) << size;
    out.resize(bw.bytes_written());
    return out;
  };
  const std::vector<std::uint8_t> roomy = pack(4096);
  for (std::size_t extra = 0; extra < 40; ++extra) EXPECT_EQ(pack(roomy.size() + extra), roomy) << extra;
}

}  // namespace
}  // namespace kelvor::transcode
