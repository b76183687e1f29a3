#include "ac3dec/coefficient_tools.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "ac3dec/ac3_math.h"
#include "ac3dec/eac3_tables.h"
#include "ac3dec/mantissas.h"
#include "ac3dec/q24_avx2.h"
#include "ac3dec/tables.h"

namespace kelvor::ac3 {

namespace {

constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }

// A coupled channel's coefficient: the coupling mantissa times the band's
// coordinate, times 8, shifted by the coupling exponent.
inline Q24 coupled(Q24 mant, Q24 coord, std::int32_t exp) { return shr32(shl32(mul_q24(mant, coord), 3), exp); }

void scale_coupled_portable(const Q24* mant, const Q24* coords, const std::int32_t* exps, int start, int end,
                            Q24* out) {
  for (int bin = start; bin < end; ++bin) out[idx(bin)] = coupled(mant[idx(bin)], coords[idx(bin)], exps[idx(bin)]);
}

#ifdef KELVOR_HAVE_AVX2_PATH
__attribute__((target("avx2"))) void scale_coupled_avx2(const Q24* mant, const Q24* coords, const std::int32_t* exps,
                                                        int start, int end, Q24* out) {
  const __m256i low5 = _mm256_set1_epi32(31);
  int bin = start;
  for (; bin + 8 <= end; bin += 8) {
    const __m256i p = avx2::mul_q24(avx2::load(mant + bin), avx2::load(coords + bin));
    const __m256i n = _mm256_and_si256(avx2::load(exps + bin), low5);
    avx2::store(out + bin, _mm256_srav_epi32(_mm256_slli_epi32(p, 3), n));
  }
  scale_coupled_portable(mant, coords, exps, bin, end, out);
}
#endif

void scale_coupled(const Q24* mant, const Q24* coords, const std::int32_t* exps, int start, int end, Q24* out) {
#ifdef KELVOR_HAVE_AVX2_PATH
  if (avx2::available()) {
    scale_coupled_avx2(mant, coords, exps, start, end, out);
    return;
  }
#endif
  scale_coupled_portable(mant, coords, exps, start, end, out);
}

}  // namespace

void decouple_channel(const FrameState& fs, int ch, std::span<const Q24, 256> cplmant, Ac3Dither& dither,
                      Coefficients& out) {
  const auto c = idx(ch);
  const bool dither_on = fs.dithflag[c];
  const bool phase = fs.acmod == 2 && ch == 1 && fs.phsflginu;
  // Bins without bits take dither in a second pass over just those bins:
  // testing every bin for it in one loop is a branch no predictor learns.
  std::array<Q24, 256> coords;
  int bin = fs.cpl_start;
  for (int bnd = 0; bnd < fs.ncplbnds; ++bnd) {
    Q24 coord = fs.cplco[c][idx(bnd)];
    if (phase && fs.phsflg[idx(bnd)]) coord = neg_sat_q24(coord);
    for (; bin < fs.cpl_band_end[idx(bnd)]; ++bin) coords[idx(bin)] = coord;
  }
  scale_coupled(cplmant.data(), coords.data(), fs.exps[kCpl].data(), fs.cpl_start, bin, out.data());
  if (!dither_on) return;
  std::array<std::uint16_t, 256> empty;
  const std::size_t n_empty = list_bins_without_bits(fs.bap[kCpl].data(), fs.cpl_start, bin, 0xFF, empty.data());
  for (std::size_t i = 0; i < n_empty; ++i) {
    const std::size_t b = empty[i];
    const Q24 m = mul_q24(dither.dither_next(), kDitherScale);
    out[b] = coupled(m, coords[b], fs.exps[kCpl][b]);
  }
}

void rematrix(const FrameState& fs, Coefficients& left, Coefficients& right) {
  const int limit = fs.cplinu ? fs.cpl_start : 253;
  for (int bnd = 0; bnd < fs.nrematbd; ++bnd) {
    if (!fs.rematflg[idx(bnd)]) continue;
    const int end = std::min<int>(kRematBand[idx(bnd + 1)], limit);
    for (int bin = kRematBand[idx(bnd)]; bin < end; ++bin) {
      const Q24 l = left[idx(bin)];
      const Q24 r = right[idx(bin)];
      left[idx(bin)] = add_sat_q24(l, r);
      right[idx(bin)] = sub_sat_q24(l, r);
    }
  }
}

void apply_spectral_extension(const FrameState& fs, std::span<Coefficients, kMaxFbw> channels, Ac3Dither& dither) {
  struct Band {
    int start;
    int size;
    bool wrapped;
  };
  std::array<Band, kMaxSpxSubbands> bands{};

  // Translation: copy the baseband upward, restarting at the copy start
  // whenever a band would run into the extension region.
  int copy = fs.spx_copy_start;
  int bin = fs.spx_begin;
  for (int bnd = 0; bnd < fs.nspxbnds; ++bnd) {
    const int size = fs.spx_band_size[idx(bnd)];
    bool wrapped = false;
    if (copy + size > fs.spx_begin) {
      copy = fs.spx_copy_start;
      wrapped = true;
    }
    bands[idx(bnd)] = {bin, size, wrapped};
    for (int i = 0; i < size; ++i, ++bin, ++copy) {
      if (copy == fs.spx_begin) copy = fs.spx_copy_start;
      for (int ch = 0; ch < fs.nfchans; ++ch) {
        if (fs.chinspx[idx(ch)]) channels[idx(ch)][idx(bin)] = channels[idx(ch)][idx(copy)];
      }
    }
  }

  for (int ch = 0; ch < fs.nfchans; ++ch) {
    if (!fs.chinspx[idx(ch)]) continue;
    Coefficients& co = channels[idx(ch)];

    // Band energies of the translated coefficients.
    std::array<std::uint32_t, kMaxSpxSubbands> rms{};
    for (int bnd = 0; bnd < fs.nspxbnds; ++bnd) {
      const Band& b = bands[idx(bnd)];
      constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
      std::uint64_t sum = 0;
      for (int i = b.start; i < b.start + b.size; ++i) {
        const auto v = static_cast<std::int64_t>(co[idx(i)]);
        const auto square = static_cast<std::uint64_t>(v * v);
        sum = sum > kMax - square ? kMax : sum + square;  // saturates only for absurd input
      }
      const std::uint64_t mean = sum / static_cast<std::uint64_t>(b.size);
      rms[idx(bnd)] = isqrt64(static_cast<std::int64_t>(
          std::min<std::uint64_t>(mean, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))));
    }

    // Notch at the start of the region and at every wrap.
    if (fs.chinspxatten[idx(ch)]) {
      const auto& taps = eac3::kSpxAttenuation[idx(fs.spxattencod[idx(ch)] & 31)];
      const std::array<Q24, 5> notch = {taps[0], taps[1], taps[2], taps[1], taps[0]};
      for (int bnd = 0; bnd < fs.nspxbnds; ++bnd) {
        if (bnd != 0 && !bands[idx(bnd)].wrapped) continue;
        for (int k = 0; k < 5; ++k) {
          const auto at = idx(bands[idx(bnd)].start - 2 + k);
          co[at] = mul_q24(co[at], notch[idx(k)]);
        }
      }
    }

    // Blend the translated signal with noise of the band's energy.
    for (int bnd = 0; bnd < fs.nspxbnds; ++bnd) {
      const Band& b = bands[idx(bnd)];
      const Q24 signal = fs.spx_signal[idx(ch)][idx(bnd)];
      const Q24 noise = saturate_i32((static_cast<std::int64_t>(rms[idx(bnd)]) * fs.spx_noise[idx(ch)][idx(bnd)] +
                                      (std::int64_t{1} << 23)) >> 24);
      for (int i = b.start; i < b.start + b.size; ++i) {
        const Q24 s = mul_sat_q24(co[idx(i)], signal);
        co[idx(i)] = add_sat_q24(s, mul_sat_q24(dither.dither_next(), noise));
      }
    }
  }
}

}  // namespace kelvor::ac3
