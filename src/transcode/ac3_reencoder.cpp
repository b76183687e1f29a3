#include "transcode/ac3_reencoder.h"

#include <algorithm>
#include <cstdlib>

#include "ac3dec/q24_avx2.h"
#include "ac3dec/tables.h"

namespace kelvor::transcode {

namespace {

constexpr int kNewExponentThreshold = 1024;     // summed |difference| over a channel's 256 bins
constexpr int kNarrowExponentThreshold = 256;   // the same for ExponentSharing::kNarrow
constexpr int kNewLfeExponentThreshold = 28;    // over the LFE's 7 bins

// The dB-per-bit knee goes out at its highest code whatever the input
// used: the output has at least twice the input's bytes, and with the
// highest knee they go where the signal is (measured with
// bench/transcode_quality.py: up to 4 dB better on dense stereo and 5.1
// noise, at most 0.5 dB worse on pure tones that stay well above ffmpeg's
// route).
constexpr std::uint32_t kDbPerBitCode = 3;

ac3::BitAllocParams params_of(const BlockSlot& s) {
  return {ac3::kSlowDecay[s.sdcycod & 3], ac3::kFastDecay[s.fdcycod & 3], ac3::kSlowGain[s.sgaincod & 3],
          ac3::kDbPerBit[kDbPerBitCode], ac3::kFloor[s.floorcod & 7]};
}

// The loops over a channel's exponents, with their length fixed so that
// the compiler vectorises them (and inlined into the AVX2 versions below).
// Bins from kBins on are 24 (no signal).
template <int kBins>
[[gnu::always_inline]] inline void exponents_from(const Q24* __restrict coef, Exponents& e) {
  std::int32_t* __restrict out = e.data();
  // The fill from a multiple of eight, before the bins are written: a
  // loop the compiler vectorises.
  if constexpr (kBins < 256) {
    for (int bin = kBins & ~7; bin < 256; ++bin) out[bin] = 24;
  }
  for (int bin = 0; bin < kBins; ++bin) out[bin] = exponent_of(coef[bin]);
}

template <int kBins>
[[gnu::always_inline]] inline int exponent_distance(const Exponents& a, const Exponents& b) {
  int diff = 0;
  for (int bin = 0; bin < kBins; ++bin) diff += std::abs(a[static_cast<std::size_t>(bin)] - b[static_cast<std::size_t>(bin)]);
  return diff;
}

template <int kBins>
[[gnu::always_inline]] inline void take_smaller(Exponents& e, const Exponents& other) {
  for (int bin = 0; bin < kBins; ++bin) {
    e[static_cast<std::size_t>(bin)] = std::min(e[static_cast<std::size_t>(bin)], other[static_cast<std::size_t>(bin)]);
  }
}

// The three loops over a full-bandwidth channel's 256 bins.
struct ExponentLoops {
  void (*from)(const Q24*, Exponents&);
  int (*distance)(const Exponents&, const Exponents&);
  void (*smaller)(Exponents&, const Exponents&);
  void (*copy)(const Exponents&, Exponents&);
};

void from_256(const Q24* coef, Exponents& e) { exponents_from<256>(coef, e); }
int distance_256(const Exponents& a, const Exponents& b) { return exponent_distance<256>(a, b); }
void smaller_256(Exponents& e, const Exponents& other) { take_smaller<256>(e, other); }
void copy_256(const Exponents& from, Exponents& to) { to = from; }

#if defined(KELVOR_HAVE_AVX2_PATH)
__attribute__((target("avx2"))) void from_256_avx2(const Q24* coef, Exponents& e) { exponents_from<256>(coef, e); }
__attribute__((target("avx2"))) int distance_256_avx2(const Exponents& a, const Exponents& b) {
  return exponent_distance<256>(a, b);
}
// Written out: the compiler keeps the plain loop scalar, as the two
// arrays might overlap.
__attribute__((target("avx2"))) void smaller_256_avx2(Exponents& e, const Exponents& other) {
  for (std::size_t bin = 0; bin < 256; bin += 8) {
    auto* const at = reinterpret_cast<__m256i*>(e.data() + bin);
    const __m256i theirs = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(other.data() + bin));
    _mm256_storeu_si256(at, _mm256_min_epi32(_mm256_loadu_si256(at), theirs));
  }
}
// The plain copy compiles to a string move, slow to start for a kilobyte.
__attribute__((target("avx2"))) void copy_256_avx2(const Exponents& from, Exponents& to) {
  for (std::size_t bin = 0; bin < 256; bin += 8) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to.data() + bin),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from.data() + bin)));
  }
}
#endif

ExponentLoops loops_256() {
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (ac3::avx2::available()) return {from_256_avx2, distance_256_avx2, smaller_256_avx2, copy_256_avx2};
#endif
  return {from_256, distance_256, smaller_256, copy_256};
}

bool same_allocation_codes(const BlockSlot& a, const BlockSlot& b) {
  return a.sdcycod == b.sdcycod && a.fdcycod == b.fdcycod && a.sgaincod == b.sgaincod && a.floorcod == b.floorcod;
}

}  // namespace

void Ac3Reencoder::analyse(const TranscoderStream& stream, int acmod, bool lfeon, ExponentSharing sharing) {
  stream_ = &stream;
  narrow_differs_ = false;
  acmod_ = acmod;
  nfchans_ = ac3::kNfchans[idx(acmod)];
  lfeon_ = lfeon;
  for (auto& flags : remat_) flags.fill(false);
  if (acmod == 2) choose_rematrixing();
  for (int ch = 0; ch < kChannels; ++ch) {
    if (in_use(ch)) choose_exponents(ch, sharing);
  }
  compute_masks();
}

const Q24* Ac3Reencoder::coef_of(int blk, int ch) const {
  if (ch == kLfe) return stream_->lfe_coef[idx(blk)].data();
  if (acmod_ == 2) return stereo_[idx(blk)][idx(ch)].data();
  return stream_->coef[idx(blk)][idx(ch)].data();
}

// A rematrixed stereo band mixes both channels, so a pair shares the wider
// of its two bandwidths.
std::uint32_t Ac3Reencoder::band_code(int blk, int ch) const {
  const BlockSlot& slot = stream_->slot[idx(blk)];
  return acmod_ == 2 ? std::max(slot.chbwcod[0], slot.chbwcod[1]) : slot.chbwcod[idx(ch)];
}

void Ac3Reencoder::choose_rematrixing() {
  for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
    auto& left = stereo_[idx(blk)][0];
    auto& right = stereo_[idx(blk)][1];
    left = stream_->coef[idx(blk)][0];
    right = stream_->coef[idx(blk)][1];
    for (int band = 0; band < 4; ++band) {
      // Energies of left, right, sum half and difference half.
      std::array<std::int64_t, 4> energy{};
      for (int bin = ac3::kRematBand[idx(band)]; bin < ac3::kRematBand[idx(band + 1)]; ++bin) {
        const std::int64_t l = left[idx(bin)] >> 4;
        const std::int64_t r = right[idx(bin)] >> 4;
        const std::int64_t m = (l + r) >> 1;
        const std::int64_t d = (l - r) >> 1;
        energy[0] += l * l;
        energy[1] += r * r;
        energy[2] += m * m;
        energy[3] += d * d;
      }
      const bool remat = std::min(energy[2], energy[3]) < std::min(energy[0], energy[1]);
      remat_[idx(blk)][idx(band)] = remat;
      if (!remat) continue;
      // The decoder rebuilds left = m + d and right = m - d.
      for (int bin = ac3::kRematBand[idx(band)]; bin < ac3::kRematBand[idx(band + 1)]; ++bin) {
        const std::int64_t l = left[idx(bin)];
        const std::int64_t r = right[idx(bin)];
        left[idx(bin)] = static_cast<Q24>((l + r) >> 1);
        right[idx(bin)] = static_cast<Q24>((l - r) >> 1);
      }
    }
  }
}

void Ac3Reencoder::choose_exponents(int ch, ExponentSharing sharing) {
  static const ExponentLoops loops = loops_256();
  const bool lfe = ch == kLfe;
  for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
    if (lfe) {
      exponents_from<kLfeBins>(coef_of(blk, ch), exps_[idx(blk)][idx(ch)]);
    } else {
      loops.from(coef_of(blk, ch), exps_[idx(blk)][idx(ch)]);
    }
  }
  // Which blocks send new exponents: block 0, and any block that differs
  // enough from the one before it.
  std::array<bool, kBlocksPerFrame> fresh{};
  fresh[0] = true;
  const int threshold = sharing == ExponentSharing::kNarrow ? kNarrowExponentThreshold : kNewExponentThreshold;
  for (int blk = 1; blk < kBlocksPerFrame; ++blk) {
    const Exponents& a = exps_[idx(blk)][idx(ch)];
    const Exponents& b = exps_[idx(blk - 1)][idx(ch)];
    if (lfe) {
      fresh[idx(blk)] = exponent_distance<kLfeBins>(a, b) >= kNewLfeExponentThreshold;
      continue;
    }
    const int distance = loops.distance(a, b);
    fresh[idx(blk)] = distance >= threshold;
    narrow_differs_ = narrow_differs_ || (distance >= kNarrowExponentThreshold && !fresh[idx(blk)]);
  }
  // Each run of a fresh block and the reuse blocks after it shares one set:
  // per bin the smallest exponent (largest magnitude) of the run, over the
  // widest bandwidth of the run.
  for (int first = 0; first < kBlocksPerFrame;) {
    int last = first + 1;
    while (last < kBlocksPerFrame && !fresh[idx(last)]) ++last;
    Exponents& e = exps_[idx(first)][idx(ch)];
    int bw = lfe ? 0 : static_cast<int>(band_code(first, ch));
    for (int blk = first + 1; blk < last; ++blk) {
      const Exponents& other = exps_[idx(blk)][idx(ch)];
      if (lfe) {
        take_smaller<kLfeBins>(e, other);
      } else {
        loops.smaller(e, other);
      }
      if (!lfe) bw = std::max(bw, static_cast<int>(band_code(blk, ch)));
    }
    const int run = last - first;
    const Strategy strategy = lfe ? kD15 : (run == 1 ? kD45 : (run <= 3 ? kD25 : kD15));
    bw_[idx(first)][idx(ch)] = bw;
    process_exponents(strategy, end_of(first, ch), e);
    strategy_[idx(first)][idx(ch)] = strategy;
    for (int blk = first + 1; blk < last; ++blk) {
      loops.copy(e, exps_[idx(blk)][idx(ch)]);
      bw_[idx(blk)][idx(ch)] = bw;
      strategy_[idx(blk)][idx(ch)] = kReuse;
    }
    first = last;
  }
}

void Ac3Reencoder::compute_masks() {
  const TranscoderStream& s = *stream_;
  std::array<MaskJob, kBlocksPerFrame * kChannels> jobs;
  std::size_t count = 0;
  for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
    const BlockSlot& slot = s.slot[idx(blk)];
    for (int ch = 0; ch < kChannels; ++ch) {
      pointer_block_[idx(blk)][idx(ch)] = static_cast<std::uint8_t>(blk);
      mask_block_[idx(blk)][idx(ch)] = static_cast<std::uint8_t>(blk);
      if (!in_use(ch)) continue;
      const std::uint32_t fgaincod = ch == kLfe ? slot.lfe_fgaincod : slot.fgaincod[idx(ch)];
      if (blk > 0 && strategy_[idx(blk)][idx(ch)] == kReuse) {
        const BlockSlot& prev = s.slot[idx(blk - 1)];
        const std::uint32_t prev_fgaincod = ch == kLfe ? prev.lfe_fgaincod : prev.fgaincod[idx(ch)];
        if (prev.sdcycod == slot.sdcycod && prev.fdcycod == slot.fdcycod && prev.sgaincod == slot.sgaincod &&
            prev_fgaincod == fgaincod) {
          mask_block_[idx(blk)][idx(ch)] = mask_block_[idx(blk - 1)][idx(ch)];
          if (prev.floorcod == slot.floorcod) pointer_block_[idx(blk)][idx(ch)] = pointer_block_[idx(blk - 1)][idx(ch)];
          continue;
        }
      }
      jobs[count++] = {exps_[idx(blk)][idx(ch)].data(), end_of(blk, ch), ac3::kFastGain[fgaincod & 7], params_of(slot),
                       blk * kChannels + ch};
    }
  }
  compute_mask_batch(std::span(jobs.data(), count), masks_);
  for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
    const int floor = params_of(s.slot[idx(blk)]).floor;
    for (int ch = 0; ch < kChannels; ++ch) {
      if (!in_use(ch) || pointer_block_[idx(blk)][idx(ch)] != blk) continue;
      const ac3::MaskResult& mask = masks_[idx(mask_block_[idx(blk)][idx(ch)] * kChannels + ch)];
      spread_mask(exps_[idx(blk)][idx(ch)].data(), mask, end_of(blk, ch), floor, spread_[idx(blk)][idx(ch)]);
    }
  }
}

std::uint32_t Ac3Reencoder::side_information_bits() const {
  const TranscoderStream& s = *stream_;
  std::uint32_t bits = 0;
  for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
    const BlockSlot& slot = s.slot[idx(blk)];
    const BlockSlot* prev = blk > 0 ? &s.slot[idx(blk - 1)] : nullptr;
    const auto n = static_cast<std::uint32_t>(nfchans_);
    bits += 2 * n;                                                  // blksw, dithflag
    bits += 1 + ((prev ? prev->dynrng : 0) != slot.dynrng ? 8 : 0);  // dynrnge, dynrng
    if (acmod_ == 0) bits += 1 + ((prev ? prev->dynrng2 : 0) != slot.dynrng2 ? 8 : 0);
    bits += blk == 0 ? 2 : 1;                                       // cplstre, cplinu
    if (acmod_ == 2) bits += new_rematrixing(blk) ? 5 : 1;          // rematstr, rematflg
    bits += 2 * n + (lfeon_ ? 1 : 0);                               // chexpstr, lfeexpstr
    for (int ch = 0; ch < nfchans_; ++ch) {
      const Strategy st = strategy_[idx(blk)][idx(ch)];
      if (st != kReuse) bits += 6 + 4 + 7 * static_cast<std::uint32_t>(exponent_values(st, end_of(blk, ch)) / 3) + 2;
    }
    if (lfeon_ && strategy_[idx(blk)][kLfe] != kReuse) bits += 4 + 2 * 7;
    bits += 1 + ((!prev || !same_allocation_codes(*prev, slot)) ? 11 : 0);  // baie
    bool new_gains = !prev || (lfeon_ && prev->lfe_fgaincod != slot.lfe_fgaincod);
    for (int ch = 0; ch < nfchans_; ++ch) new_gains = new_gains || prev->fgaincod[idx(ch)] != slot.fgaincod[idx(ch)];
    bits += 1 + (new_gains ? 6 + 7 * n + (lfeon_ ? 7 : 0) : 0);     // snroffste
    bits += 2;                                                      // deltbaie, skiple
  }
  return bits;
}

std::uint32_t Ac3Reencoder::frame_mantissa_bits(int a) {
  const int snroffset = 4 * a - 960;
  PointerSet& bap = bap_[idx(1 - chosen_set_)];
  std::array<std::uint64_t, kChannels> channel{};
  std::uint32_t bits = 0;
  for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
    std::uint64_t block = 0;
    for (int ch = 0; ch < kChannels; ++ch) {
      if (!in_use(ch)) continue;
      if (pointer_block_[idx(blk)][idx(ch)] == blk) {
        channel[idx(ch)] = allocate_pointers(spread_[idx(blk)][idx(ch)], snroffset, bap[idx(blk)][idx(ch)].data());
      }
      block += channel[idx(ch)];
    }
    bits += packed_block_bits(block);
  }
  return bits;
}

bool Ac3Reencoder::choose_snr_offset(std::int64_t mantissa_budget, int hint) {
  // lo fits (0 stands for "none found"), hi does not (1024 for "none tried").
  int lo = 0;
  int hi = 1024;
  std::uint32_t lo_bits = 0;
  const auto fits = [&](int a) {
    const std::uint32_t bits = frame_mantissa_bits(a);
    if (bits > mantissa_budget) {
      hi = a;
      return false;
    }
    lo = a;
    lo_bits = bits;
    chosen_set_ = 1 - chosen_set_;  // the pointers just made
    return true;
  };
  // Outward from the hint in growing steps, then halving in between.
  const int start = std::clamp(hint, 1, 1023);
  const bool up = fits(start);
  for (int step = 1;; step *= 2) {
    const int a = up ? lo + step : hi - step;
    if (a <= lo || a >= hi) break;
    if (fits(a) != up) break;
  }
  while (hi - lo > 1) fits((lo + hi) / 2);
  if (lo == 0) return false;
  csnroffst_ = lo >> 4;
  fsnroffst_ = lo & 15;
  chosen_bits_ = lo_bits;
  return true;
}

void Ac3Reencoder::write_blocks(BitWriter& bw) {
  const TranscoderStream& s = *stream_;
  for (int blk = 0; blk < kBlocksPerFrame; ++blk) {
    const BlockSlot& slot = s.slot[idx(blk)];
    const BlockSlot* prev = blk > 0 ? &s.slot[idx(blk - 1)] : nullptr;
    const auto& strategy = strategy_[idx(blk)];
    for (int ch = 0; ch < nfchans_; ++ch) bw.put_bits(slot.blksw[idx(ch)], 1);
    for (int ch = 0; ch < nfchans_; ++ch) bw.put_bits(slot.dithflag[idx(ch)], 1);
    const auto gain = [&](std::uint32_t value, std::uint32_t before) {
      bw.put_bits(value != before ? 1 : 0, 1);
      if (value != before) bw.put_bits(value, 8);
    };
    gain(slot.dynrng, prev ? prev->dynrng : 0);
    if (acmod_ == 0) gain(slot.dynrng2, prev ? prev->dynrng2 : 0);
    bw.put_bits(blk == 0 ? 1 : 0, 1);  // cplstre
    if (blk == 0) bw.put_bits(0, 1);    // cplinu
    if (acmod_ == 2) {
      bw.put_bits(new_rematrixing(blk) ? 1 : 0, 1);  // rematstr
      if (new_rematrixing(blk)) {
        for (const bool flag : remat_[idx(blk)]) bw.put_bits(flag ? 1 : 0, 1);
      }
    }
    for (int ch = 0; ch < nfchans_; ++ch) bw.put_bits(strategy[idx(ch)], 2);
    if (lfeon_) bw.put_bits(strategy[kLfe] != kReuse ? 1 : 0, 1);
    for (int ch = 0; ch < nfchans_; ++ch) {
      if (strategy[idx(ch)] != kReuse) bw.put_bits(static_cast<std::uint32_t>(bw_[idx(blk)][idx(ch)]), 6);
    }
    for (int ch = 0; ch < nfchans_; ++ch) {
      if (strategy[idx(ch)] == kReuse) continue;
      encode_exponents(strategy[idx(ch)], end_of(blk, ch), exps_[idx(blk)][idx(ch)], bw);
      bw.put_bits(0, 2);  // gainrng
    }
    if (lfeon_ && strategy[kLfe] != kReuse) encode_exponents(kD15, kLfeBins, exps_[idx(blk)][kLfe], bw);
    const bool baie = !prev || !same_allocation_codes(*prev, slot);
    bw.put_bits(baie ? 1 : 0, 1);
    if (baie) {
      bw.put_bits(slot.sdcycod, 2);
      bw.put_bits(slot.fdcycod, 2);
      bw.put_bits(slot.sgaincod, 2);
      bw.put_bits(kDbPerBitCode, 2);
      bw.put_bits(slot.floorcod, 3);
    }
    bool new_gains = !prev || (lfeon_ && prev->lfe_fgaincod != slot.lfe_fgaincod);
    for (int ch = 0; ch < nfchans_; ++ch) new_gains = new_gains || prev->fgaincod[idx(ch)] != slot.fgaincod[idx(ch)];
    bw.put_bits(new_gains ? 1 : 0, 1);  // snroffste
    if (new_gains) {
      bw.put_bits(static_cast<std::uint32_t>(csnroffst_), 6);
      for (int ch = 0; ch < nfchans_; ++ch) {
        bw.put_bits(static_cast<std::uint32_t>(fsnroffst_), 4);
        bw.put_bits(slot.fgaincod[idx(ch)], 3);
      }
      if (lfeon_) {
        bw.put_bits(static_cast<std::uint32_t>(fsnroffst_), 4);
        bw.put_bits(slot.lfe_fgaincod, 3);
      }
    }
    bw.put_bits(0, 1);  // deltbaie
    bw.put_bits(0, 1);  // skiple

    const auto pointers = [&](int ch) { return bap_[idx(chosen_set_)][pointer_block_[idx(blk)][idx(ch)]][idx(ch)].data(); };
    quantiser_.start_block();
    for (int ch = 0; ch < kChannels; ++ch) {
      if (!in_use(ch)) continue;
      quantiser_.quantise(coef_of(blk, ch), exps_[idx(blk)][idx(ch)].data(), pointers(ch), end_of(blk, ch),
                          codes_[idx(ch)].data());
    }
    for (int ch = 0; ch < kChannels; ++ch) {
      if (in_use(ch)) pack_mantissas(codes_[idx(ch)].data(), pointers(ch), end_of(blk, ch), bw);
    }
  }
}

}  // namespace kelvor::transcode
