#include "ac3dec/bit_allocation.h"

#include <algorithm>

#include "ac3dec/tables.h"

namespace kelvor::ac3 {

namespace {

std::int32_t logadd(std::int32_t a, std::int32_t b) {
  const std::int32_t c = a - b;
  const std::int32_t address = std::min((c < 0 ? -c : c) >> 1, 255);
  return (c >= 0 ? a : b) + latab[static_cast<std::size_t>(address)];
}

int calc_lowcomp(int lowcomp, std::int32_t b0, std::int32_t b1, int band) {
  if (band < 20) {
    if (b0 + 256 == b1) return band < 7 ? 384 : 320;
    if (b0 > b1) return std::max(0, lowcomp - 64);
    return lowcomp;
  }
  return std::max(0, lowcomp - 128);
}

}  // namespace

void compute_mask(std::span<const std::int32_t, 256> exps, const MaskInput& in, const BitAllocParams& params,
                  MaskResult& out) {
  const int start = in.start;
  const int end = in.end;
  if (start < 0 || end > 256 || start >= end) return;  // nothing to allocate
  for (int bin = start; bin < end; ++bin) out.psd[static_cast<std::size_t>(bin)] = 3072 - exps[static_cast<std::size_t>(bin)] * 128;

  // Integration of the psd into bands by log-addition.
  auto& bndpsd = out.bndpsd;
  int j = start;
  int k = masktab[static_cast<std::size_t>(start)];
  int lastbin = 0;
  do {
    lastbin = std::min(bndtab[static_cast<std::size_t>(k)] + bndsz[static_cast<std::size_t>(k)], end);
    std::int32_t sum = out.psd[static_cast<std::size_t>(j++)];
    for (; j < lastbin; ++j) sum = logadd(sum, out.psd[static_cast<std::size_t>(j)]);
    bndpsd[static_cast<std::size_t>(k++)] = sum;
  } while (end > lastbin && k < kBands);
  bndpsd[static_cast<std::size_t>(k)] = 0;  // read (never used) by the lowcomp test of the last band

  // Excitation: the fast and slow leaks, with low-frequency compensation for
  // channels that start at bin 0.
  const int bndstrt = masktab[static_cast<std::size_t>(start)];
  const int bndend = masktab[static_cast<std::size_t>(end - 1)] + 1;
  std::array<std::int32_t, kBands> excite{};
  const auto bp = [&](int b) { return bndpsd[static_cast<std::size_t>(b)]; };
  std::int32_t fastleak = in.fastleak;
  std::int32_t slowleak = in.slowleak;
  int begin = bndstrt;
  if (bndstrt == 0) {
    int lowcomp = calc_lowcomp(0, bp(0), bp(1), 0);
    excite[0] = bp(0) - in.fgain - lowcomp;
    lowcomp = calc_lowcomp(lowcomp, bp(1), bp(2), 1);
    excite[1] = bp(1) - in.fgain - lowcomp;
    begin = 7;
    for (int b = 2; b < 7; ++b) {
      const bool compare = bndend != 7 || b != 6;
      if (compare) lowcomp = calc_lowcomp(lowcomp, bp(b), bp(b + 1), b);
      fastleak = bp(b) - in.fgain;
      slowleak = bp(b) - params.sgain;
      excite[static_cast<std::size_t>(b)] = fastleak - lowcomp;
      if (compare && bp(b) <= bp(b + 1)) {
        begin = b + 1;
        break;
      }
    }
    for (int b = begin; b < std::min(bndend, 22); ++b) {
      if (bndend != 7 || b != 6) lowcomp = calc_lowcomp(lowcomp, bp(b), bp(b + 1), b);
      fastleak = std::max(fastleak - params.fdecay, bp(b) - in.fgain);
      slowleak = std::max(slowleak - params.sdecay, bp(b) - params.sgain);
      excite[static_cast<std::size_t>(b)] = std::max(fastleak - lowcomp, slowleak);
    }
    begin = 22;
  }
  for (int b = begin; b < bndend; ++b) {
    fastleak = std::max(fastleak - params.fdecay, bp(b) - in.fgain);
    slowleak = std::max(slowleak - params.sdecay, bp(b) - params.sgain);
    excite[static_cast<std::size_t>(b)] = std::max(fastleak, slowleak);
  }

  // Masking curve.
  for (int b = bndstrt; b < bndend; ++b) {
    std::int32_t e = excite[static_cast<std::size_t>(b)];
    if (bp(b) < params.dbknee) e += (params.dbknee - bp(b)) >> 2;
    out.mask[static_cast<std::size_t>(b)] = std::max(e, hth48[static_cast<std::size_t>(b)]);
  }
}

void apply_delta(const DeltaAllocation& dba, std::span<std::int32_t, kBands> mask) {
  if (dba.mode != 0 && dba.mode != 1) return;
  int band = 0;
  for (int seg = 0; seg < dba.nseg; ++seg) {
    band += dba.offset[static_cast<std::size_t>(seg)];
    const int ba = dba.ba[static_cast<std::size_t>(seg)];
    const int delta = (ba >= 4 ? ba - 3 : ba - 4) * 128;
    for (int n = 0; n < dba.length[static_cast<std::size_t>(seg)]; ++n, ++band) {
      // Segments that run past the last band are ignored.
      if (band < kBands) mask[static_cast<std::size_t>(band)] += delta;
    }
  }
}

void compute_bap(const MaskResult& m, int start, int end, int snroffset, int floor,
                 std::span<const std::uint8_t, 64> table, std::span<std::uint8_t, 256> bap) {
  if (start < 0 || end > 256 || start >= end) return;
  int bin = start;
  int band = masktab[static_cast<std::size_t>(start)];
  int lastbin = 0;
  do {
    lastbin = std::min(bndtab[static_cast<std::size_t>(band)] + bndsz[static_cast<std::size_t>(band)], end);
    std::int32_t mask = m.mask[static_cast<std::size_t>(band)] - snroffset - floor;
    if (mask < 0) mask = 0;
    mask = (mask & 0x1FE0) + floor;
    for (; bin < lastbin; ++bin) {
      const std::int32_t address = std::clamp((m.psd[static_cast<std::size_t>(bin)] - mask) >> 5, 0, 63);
      bap[static_cast<std::size_t>(bin)] = table[static_cast<std::size_t>(address)];
    }
    ++band;
  } while (end > lastbin && band < kBands);
}

}  // namespace kelvor::ac3
