#include "mpegenc/bit_allocation.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <limits>

#include "mpegenc/simd.h"

namespace kelvor::mpegenc {
namespace {

Q24 SubSat(Q24 a, Q24 b) { return saturate_i32(static_cast<std::int64_t>(a) - b); }

// Per subband and allocation index: the sample bits and the SNR it brings,
// and the highest index.
struct SubbandSteps {
  std::array<std::int16_t, 16> bits;
  std::array<Q24, 16> snr;
  int highest;
};

// Per table (in the order of AllocationTableId) and subband.
using TableSteps = std::array<SubbandSteps, kMaxSubbands>;
constexpr std::array<TableSteps, 4> kSteps = [] {
  std::array<TableSteps, 4> all{};
  for (std::size_t id = 0; id < all.size(); ++id) {
    const AllocationTable& table = *kAllocationTables[id];
    for (int sb = 0; sb < table.sblimit; ++sb) {
      const AllocationRow& row = table.rowOf(sb);
      auto& steps = all[id][static_cast<std::size_t>(sb)];
      steps.highest = row.highest;
      for (int a = 1; a <= row.highest; ++a) {
        const QuantClass& q = kQuantClass[static_cast<std::size_t>(row.classOf[static_cast<std::size_t>(a)])];
        steps.bits[static_cast<std::size_t>(a)] = static_cast<std::int16_t>(q.frameBits);
        steps.snr[static_cast<std::size_t>(a)] = q.snr;
      }
    }
  }
  return all;
}();

constexpr std::int64_t kClosed = std::numeric_limits<std::int64_t>::max();
constexpr std::size_t kSlotsPadded = 64;
static_assert(kChannels * kMaxSubbands <= kSlotsPadded);

// Candidate `order` is subband order % kMaxSubbands of channel order / kMaxSubbands.
// The problem as the procedures see it.
struct Problem {
  const ChannelValues& smr;
  const ChannelIndices& scfsi;
  const TableSteps& steps;
  int sblimit;
  int channels;
};

// A key is the MNR with the candidate's scan position (30 ch + sb) below it,
// so the smallest key is the candidate a scan in that order would pick, ties
// included; a closed candidate holds the largest key.
constexpr std::int64_t KeyOf(Q24 mnr, std::size_t order) {
  return static_cast<std::int64_t>(mnr) * 256 + static_cast<std::int64_t>(order);
}

// The steps one at a time, the candidates in a tournament tree: what the
// processors without AVX-512 run fastest.
Allocation AllocateByTree(const Problem& p, int budget) {
  const ChannelValues& smr = p.smr;
  const ChannelIndices& scfsi = p.scfsi;
  Allocation result;
  // Candidates that may still grow, in a tournament tree over 64 leaves.
  constexpr std::size_t kLeaves = 64;
  std::array<std::int64_t, 2 * kLeaves> tree;
  tree.fill(kClosed);
  for (std::size_t ch = 0; ch < static_cast<std::size_t>(p.channels); ++ch) {
    for (std::size_t sb = 0; sb < static_cast<std::size_t>(p.sblimit); ++sb) {
      const std::size_t order = kMaxSubbands * ch + sb;
      tree[kLeaves + order] = KeyOf(SubSat(0, smr[ch][sb]), order);
    }
  }
  for (std::size_t n = kLeaves - 1; n >= 1; --n) tree[n] = std::min(tree[2 * n], tree[2 * n + 1]);
  // A new key for a leaf: the minimum rises along its path, carried in a
  // register so that no level waits for the store of the one below.
  const auto update = [&](std::size_t order, std::int64_t key) {
    std::size_t n = kLeaves + order;
    tree[n] = key;
    for (; n > 1; n /= 2) {
      key = std::min(key, tree[n ^ 1]);
      tree[n / 2] = key;
    }
  };
  int remaining = budget;
  while (tree[1] != kClosed) {
    const auto order = static_cast<std::size_t>(tree[1] & 255);
    const std::size_t ch = order / kMaxSubbands;
    const std::size_t sb = order % kMaxSubbands;
    const SubbandSteps& steps = p.steps[sb];
    // The smallest key of all other candidates: this one keeps the bits
    // coming while its key stays below it (keys are unique).
    std::int64_t others = kClosed;
    for (std::size_t n = kLeaves + order; n > 1; n /= 2) others = std::min(others, tree[n ^ 1]);
    std::int64_t key;
    for (;;) {
      const auto current = static_cast<std::size_t>(result.alloc[ch][sb]);
      const std::size_t next = current + 1;
      // The first step also pays for scfsi and the scale factors (bits[0] is 0).
      const int cost = steps.bits[next] - steps.bits[current] + (current == 0 ? 2 + 6 * kScaleFactorsSent[scfsi[ch][sb]] : 0);
      if (cost >= remaining) {  // refused: the subband is closed
        key = kClosed;
        break;
      }
      remaining -= cost;
      result.alloc[ch][sb] = static_cast<std::uint8_t>(next);
      if (static_cast<int>(next) >= steps.highest) {  // closed at the top
        key = kClosed;
        break;
      }
      key = KeyOf(SubSat(steps.snr[next], smr[ch][sb]), order);
      if (key > others) break;
    }
    update(order, key);
  }
  result.bitsLeft = remaining;
  return result;
}


#if KELVOR_MPEGENC_AVX2
// Every candidate's key, the cost of its next step and the key that step
// would give it (kClosed when it reaches the subband's highest index).
struct Candidates {
  std::array<std::int64_t, kSlotsPadded> key;
  std::array<std::int64_t, kSlotsPadded> nextKey;
  std::array<std::int64_t, kSlotsPadded> cost;
};

inline void Prepare(Candidates& c, std::size_t order, int alloc, const Problem& p) {
  const ChannelValues& smr = p.smr;
  const ChannelIndices& scfsi = p.scfsi;
  const std::size_t ch = order / kMaxSubbands;
  const std::size_t sb = order % kMaxSubbands;
  const SubbandSteps& steps = p.steps[sb];
  const auto next = static_cast<std::size_t>(alloc + 1);
  // The first step also pays for scfsi and the scale factors (bits[0] is 0).
  c.cost[order] = steps.bits[next] - steps.bits[next - 1] + (alloc == 0 ? 2 + 6 * kScaleFactorsSent[scfsi[ch][sb]] : 0);
  c.nextKey[order] = static_cast<int>(next) >= steps.highest ? kClosed : KeyOf(SubSat(steps.snr[next], smr[ch][sb]), order);
}

// What one look over the candidates finds.
struct Scan {
  std::int64_t first;      // the smallest key
  std::int64_t limit;      // the smallest key after a next step
  std::uint64_t below;     // the candidates whose key is below the limit
  std::int64_t belowCost;  // the cost of their next steps together
};

KELVOR_SIMD_DIAGNOSTIC_PUSH
__attribute__((target("avx512f"))) Scan ScanAvx512(Candidates& c, std::int64_t remaining) {
  const __m512i closed = _mm512_set1_epi64(kClosed);
  const __m512i budget = _mm512_set1_epi64(remaining);
  __m512i keys[kSlotsPadded / 8];
  __m512i limit = closed;
  __m512i first = closed;
  for (std::size_t v = 0; v < kSlotsPadded / 8; ++v) {
    const __mmask8 refused = _mm512_cmpge_epi64_mask(_mm512_loadu_si512(c.cost.data() + 8 * v), budget);
    _mm512_mask_storeu_epi64(c.key.data() + 8 * v, refused, closed);
    _mm512_mask_storeu_epi64(c.nextKey.data() + 8 * v, refused, closed);
    keys[v] = _mm512_mask_mov_epi64(_mm512_loadu_si512(c.key.data() + 8 * v), refused, closed);
    limit = _mm512_min_epi64(limit, _mm512_mask_mov_epi64(_mm512_loadu_si512(c.nextKey.data() + 8 * v), refused, closed));
    first = _mm512_min_epi64(first, keys[v]);
  }
  Scan r{_mm512_reduce_min_epi64(first), _mm512_reduce_min_epi64(limit), 0, 0};
  const __m512i at = _mm512_set1_epi64(r.limit);
  __m512i cost = _mm512_setzero_si512();
  for (std::size_t v = 0; v < kSlotsPadded / 8; ++v) {
    const __mmask8 below = _mm512_cmplt_epi64_mask(keys[v], at);
    r.below |= static_cast<std::uint64_t>(below) << (8 * v);
    cost = _mm512_mask_add_epi64(cost, below, cost, _mm512_loadu_si512(c.cost.data() + 8 * v));
  }
  r.belowCost = _mm512_reduce_add_epi64(cost);
  return r;
}
#pragma GCC diagnostic pop

// The procedure takes steps in the order of their keys and refuses a step
// that costs the remaining budget or more, which closes its subband. Two
// facts let it go many steps at a time with the same outcome:
// - a candidate whose next step costs the remaining budget or more will be
//   refused whenever its turn comes (the budget only shrinks), so it closes now;
// - a candidate's keys never fall, so the steps whose keys lie below every
//   candidate's key after its next step are the next ones in key order, one
//   per candidate at most; if their costs together stay below the budget,
//   each is accepted whatever the order.
// Far fewer rounds than steps, each a look over all candidates in whole
// registers: the AVX-512 path.
Allocation AllocateInBatches(const Problem& p, int budget) {
  Allocation result;
  Candidates c;
  c.key.fill(kClosed);
  c.nextKey.fill(kClosed);
  c.cost.fill(0);
  for (std::size_t ch = 0; ch < static_cast<std::size_t>(p.channels); ++ch) {
    for (std::size_t sb = 0; sb < static_cast<std::size_t>(p.sblimit); ++sb) {
      const std::size_t order = kMaxSubbands * ch + sb;
      c.key[order] = KeyOf(SubSat(0, p.smr[ch][sb]), order);
      Prepare(c, order, 0, p);
    }
  }
  std::int64_t remaining = budget;
  for (;;) {
    const Scan scan = ScanAvx512(c, remaining);
    if (scan.first == kClosed) break;
    // The next steps together, or when the budget runs short (or saturated
    // keys tie) the smallest key's step alone; its cost fits, see above.
    std::uint64_t steps = scan.first < scan.limit && scan.belowCost < remaining
                              ? scan.below
                              : std::uint64_t{1} << (scan.first & 255);
    for (; steps != 0; steps &= steps - 1) {
      const auto order = static_cast<std::size_t>(std::countr_zero(steps));
      remaining -= c.cost[order];
      const int alloc = ++result.alloc[order / kMaxSubbands][order % kMaxSubbands];
      c.key[order] = c.nextKey[order];
      if (c.key[order] != kClosed) Prepare(c, order, alloc, p);
    }
  }
  result.bitsLeft = static_cast<int>(remaining);
  return result;
}
#endif

}  // namespace

Allocation AllocateBits(const ChannelValues& smr, const ChannelIndices& scfsi, int budget, SimdLevel simd,
                        const AllocationTable& table, int channels) {
  const Problem p{smr, scfsi, kSteps[static_cast<std::size_t>(table.id)], table.sblimit, std::clamp(channels, 1, kChannels)};
#if KELVOR_MPEGENC_AVX2
  if (UsableSimd(simd) == SimdLevel::kAvx512) return AllocateInBatches(p, budget);
#else
  (void)simd;
#endif
  return AllocateByTree(p, budget);
}

}  // namespace kelvor::mpegenc
