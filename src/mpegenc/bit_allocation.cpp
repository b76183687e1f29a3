#include "mpegenc/bit_allocation.h"

#include <cstddef>

namespace kelvor::mpegenc {
namespace {

enum class Slot : std::uint8_t { kEmpty, kOpen, kClosed };

Q24 SubSat(Q24 a, Q24 b) { return saturate_i32(static_cast<std::int64_t>(a) - b); }

int FrameBitsOf(int sb, int alloc) {
  return kQuantClass[static_cast<std::size_t>(AllocationRowOf(sb).classOf[static_cast<std::size_t>(alloc)])].frameBits;
}

}  // namespace

Allocation AllocateBits(const ChannelValues& smr, const ChannelIndices& scfsi, int budget) {
  Allocation result;
  std::array<std::array<Slot, kCodedSubbands>, kChannels> state{};
  ChannelValues mnr{};
  for (std::size_t ch = 0; ch < kChannels; ++ch) {
    for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) mnr[ch][sb] = SubSat(0, smr[ch][sb]);
  }
  int remaining = budget;
  for (;;) {
    // The worst ratio; ties go to channel 0 and to the lower subband.
    int bestCh = -1;
    int bestSb = 0;
    for (int ch = 0; ch < kChannels; ++ch) {
      for (int sb = 0; sb < kCodedSubbands; ++sb) {
        if (state[static_cast<std::size_t>(ch)][static_cast<std::size_t>(sb)] == Slot::kClosed) continue;
        if (bestCh < 0 || mnr[static_cast<std::size_t>(ch)][static_cast<std::size_t>(sb)] <
                              mnr[static_cast<std::size_t>(bestCh)][static_cast<std::size_t>(bestSb)]) {
          bestCh = ch;
          bestSb = sb;
        }
      }
    }
    if (bestCh < 0) break;
    const auto ch = static_cast<std::size_t>(bestCh);
    const auto sb = static_cast<std::size_t>(bestSb);
    const int current = result.alloc[ch][sb];
    const int next = current + 1;
    int cost = FrameBitsOf(bestSb, next);
    if (state[ch][sb] == Slot::kEmpty) {
      cost += 2 + 6 * kScaleFactorsSent[scfsi[ch][sb]];
    } else {
      cost -= FrameBitsOf(bestSb, current);
    }
    if (cost < remaining) {
      remaining -= cost;
      result.alloc[ch][sb] = static_cast<std::uint8_t>(next);
      const int c = AllocationRowOf(bestSb).classOf[static_cast<std::size_t>(next)];
      mnr[ch][sb] = SubSat(kQuantClass[static_cast<std::size_t>(c)].snr, smr[ch][sb]);
      state[ch][sb] = next < AllocationRowOf(bestSb).highest ? Slot::kOpen : Slot::kClosed;
    } else {
      state[ch][sb] = Slot::kClosed;
    }
  }
  result.bitsLeft = remaining;
  return result;
}

}  // namespace kelvor::mpegenc
