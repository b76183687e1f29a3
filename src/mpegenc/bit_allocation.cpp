#include "mpegenc/bit_allocation.h"

#include <algorithm>
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

constexpr std::array<SubbandSteps, kCodedSubbands> kSteps = [] {
  std::array<SubbandSteps, kCodedSubbands> t{};
  for (int sb = 0; sb < kCodedSubbands; ++sb) {
    const AllocationRow& row = AllocationRowOf(sb);
    auto& steps = t[static_cast<std::size_t>(sb)];
    steps.highest = row.highest;
    for (int a = 1; a <= row.highest; ++a) {
      const QuantClass& q = kQuantClass[static_cast<std::size_t>(row.classOf[static_cast<std::size_t>(a)])];
      steps.bits[static_cast<std::size_t>(a)] = static_cast<std::int16_t>(q.frameBits);
      steps.snr[static_cast<std::size_t>(a)] = q.snr;
    }
  }
  return t;
}();

constexpr std::int64_t kClosed = std::numeric_limits<std::int64_t>::max();

// A key is the MNR with the candidate's scan position (27 ch + sb) below it,
// so the smallest key is the candidate a scan in that order would pick, ties
// included; a closed candidate holds the largest key.
constexpr std::int64_t KeyOf(Q24 mnr, std::size_t order) {
  return static_cast<std::int64_t>(mnr) * 256 + static_cast<std::int64_t>(order);
}

// One allocation step for the candidate at `order`: its new key, kClosed
// when it was refused (the budget) or has reached its highest index.
inline std::int64_t Step(std::size_t order, const ChannelValues& smr, const ChannelIndices& scfsi, Allocation& result,
                         int& remaining) {
  const std::size_t ch = order / kCodedSubbands;
  const std::size_t sb = order % kCodedSubbands;
  const SubbandSteps& steps = kSteps[sb];
  const auto current = static_cast<std::size_t>(result.alloc[ch][sb]);
  const std::size_t next = current + 1;
  // The first step also pays for scfsi and the scale factors (bits[0] is 0).
  const int cost = steps.bits[next] - steps.bits[current] + (current == 0 ? 2 + 6 * kScaleFactorsSent[scfsi[ch][sb]] : 0);
  if (cost >= remaining) return kClosed;
  remaining -= cost;
  result.alloc[ch][sb] = static_cast<std::uint8_t>(next);
  if (static_cast<int>(next) >= steps.highest) return kClosed;
  return KeyOf(SubSat(steps.snr[next], smr[ch][sb]), order);
}

#if KELVOR_MPEGENC_AVX2
// GCC 12 warns of the unset operand its own AVX-512 headers use on purpose (its bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// The 54 keys in seven registers: the smallest by a full reduction each
// step, which costs less than walking a tree in memory.
__attribute__((target("avx512f"))) Allocation AllocateAvx512(const ChannelValues& smr, const ChannelIndices& scfsi,
                                                              int budget) {
  constexpr int kRegisters = (kChannels * kCodedSubbands + 7) / 8;
  static_assert(kRegisters == 7);
  __m512i keys[kRegisters];
  __m512i lanes[kRegisters];
  for (int v = 0; v < kRegisters; ++v) {
    alignas(64) std::array<std::int64_t, 8> k;
    for (std::size_t l = 0; l < 8; ++l) {
      const std::size_t order = 8 * static_cast<std::size_t>(v) + l;
      k[l] = order < kChannels * kCodedSubbands
                 ? KeyOf(SubSat(0, smr[order / kCodedSubbands][order % kCodedSubbands]), order)
                 : kClosed;
    }
    keys[v] = _mm512_load_si512(k.data());
    lanes[v] = _mm512_add_epi64(_mm512_set1_epi64(8 * v), _mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0));
  }
  Allocation result;
  int remaining = budget;
  for (;;) {
    __m512i m = _mm512_min_epi64(_mm512_min_epi64(_mm512_min_epi64(keys[0], keys[1]), _mm512_min_epi64(keys[2], keys[3])),
                                 _mm512_min_epi64(_mm512_min_epi64(keys[4], keys[5]), keys[6]));
    m = _mm512_min_epi64(m, _mm512_shuffle_i64x2(m, m, 0x4E));
    m = _mm512_min_epi64(m, _mm512_shuffle_i64x2(m, m, 0xB1));
    m = _mm512_min_epi64(m, _mm512_shuffle_epi32(m, _MM_PERM_BADC));
    const std::int64_t best = _mm_cvtsi128_si64(_mm512_castsi512_si128(m));
    if (best == kClosed) break;
    const auto order = static_cast<std::size_t>(best & 255);
    const __m512i key = _mm512_set1_epi64(Step(order, smr, scfsi, result, remaining));
    const __m512i at = _mm512_set1_epi64(static_cast<std::int64_t>(order));
    for (int v = 0; v < kRegisters; ++v) keys[v] = _mm512_mask_mov_epi64(keys[v], _mm512_cmpeq_epi64_mask(lanes[v], at), key);
  }
  result.bitsLeft = remaining;
  return result;
}
#pragma GCC diagnostic pop
#endif

}  // namespace

Allocation AllocateBits(const ChannelValues& smr, const ChannelIndices& scfsi, int budget, SimdLevel simd) {
#if KELVOR_MPEGENC_AVX2
  if (UsableSimd(simd) == SimdLevel::kAvx512) return AllocateAvx512(smr, scfsi, budget);
#else
  (void)simd;
#endif
  Allocation result;
  // Candidates that may still grow, in a tournament tree over 64 leaves.
  constexpr std::size_t kLeaves = 64;
  std::array<std::int64_t, 2 * kLeaves> tree;
  tree.fill(kClosed);
  for (std::size_t ch = 0; ch < kChannels; ++ch) {
    for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
      const std::size_t order = kCodedSubbands * ch + sb;
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
    update(order, Step(order, smr, scfsi, result, remaining));
  }
  result.bitsLeft = remaining;
  return result;
}

}  // namespace kelvor::mpegenc
