#include "mpegenc/bit_allocation.h"

#include <algorithm>
#include <cstddef>
#include <limits>

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

}  // namespace

Allocation AllocateBits(const ChannelValues& smr, const ChannelIndices& scfsi, int budget) {
  Allocation result;
  // Candidates that may still grow, in a tournament tree over 64 leaves. A
  // key is the MNR with the candidate's scan position (27 ch + sb) below it,
  // so the smallest key is the candidate a scan in that order would pick,
  // ties included; a closed candidate holds the largest key.
  constexpr std::int64_t kClosed = std::numeric_limits<std::int64_t>::max();
  constexpr std::size_t kLeaves = 64;
  std::array<std::int64_t, 2 * kLeaves> tree;
  tree.fill(kClosed);
  const auto keyOf = [](Q24 mnr, std::size_t order) { return static_cast<std::int64_t>(mnr) * 256 + static_cast<std::int64_t>(order); };
  for (std::size_t ch = 0; ch < kChannels; ++ch) {
    for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
      const std::size_t order = kCodedSubbands * ch + sb;
      tree[kLeaves + order] = keyOf(SubSat(0, smr[ch][sb]), order);
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
    const std::size_t ch = order / kCodedSubbands;
    const std::size_t sb = order % kCodedSubbands;
    const SubbandSteps& steps = kSteps[sb];
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
      key = keyOf(SubSat(steps.snr[next], smr[ch][sb]), order);
      if (key > others) break;
    }
    update(order, key);
  }
  result.bitsLeft = remaining;
  return result;
}

}  // namespace kelvor::mpegenc
