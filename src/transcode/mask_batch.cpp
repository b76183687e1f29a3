#include "transcode/mask_batch.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "ac3dec/q24_avx2.h"
#include "ac3dec/tables.h"

namespace kelvor::transcode {

namespace {

constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }

#if defined(KELVOR_HAVE_AVX2_PATH)

using V = __m256i;

// Bands up to this one hold one bin each.
constexpr int kFirstWideBand = 28;
// The psd of bins past a channel's end: log-adding it changes no sum.
constexpr std::int32_t kSilent = -(1 << 20);

__attribute__((target("avx2"))) inline V splat(int v) { return _mm256_set1_epi32(v); }

// max(a, b) plus the table value at min(|a - b| / 2, 255).
__attribute__((target("avx2"))) inline V logadd(V a, V b) {
  const V address = _mm256_min_epi32(_mm256_srai_epi32(_mm256_abs_epi32(_mm256_sub_epi32(a, b)), 1), splat(255));
  return _mm256_add_epi32(_mm256_max_epi32(a, b), _mm256_i32gather_epi32(ac3::latab.data(), address, 4));
}

// The low-frequency compensation after band `band` (b0 and b1 the psd of
// the band and the next).
__attribute__((target("avx2"))) inline V lowcomp_after(V lowcomp, V b0, V b1, int band) {
  if (band >= 20) return _mm256_max_epi32(_mm256_sub_epi32(lowcomp, splat(128)), _mm256_setzero_si256());
  const V step = _mm256_cmpeq_epi32(_mm256_add_epi32(b0, splat(256)), b1);
  const V falls = _mm256_cmpgt_epi32(b0, b1);
  V next = _mm256_blendv_epi8(lowcomp, _mm256_max_epi32(_mm256_sub_epi32(lowcomp, splat(64)), _mm256_setzero_si256()),
                              falls);
  return _mm256_blendv_epi8(next, splat(band < 7 ? 384 : 320), step);
}

__attribute__((target("avx2"))) inline V load(const std::array<std::int32_t, 8>& v) {
  return _mm256_loadu_si256(reinterpret_cast<const V*>(v.data()));
}

// Rows r[0..7] of eight values become eight columns (lane i of out[k] is
// r[i][k]).
__attribute__((target("avx2"))) inline void transpose(const std::int32_t* const* r, std::size_t at, V* out) {
  const auto row = [&](int i) __attribute__((target("avx2"))) {
    return _mm256_loadu_si256(reinterpret_cast<const V*>(r[i] + at));
  };
  V t[8];
  V u[8];
  for (int i = 0; i < 8; i += 4) {
    const V a = row(i);
    const V b = row(i + 1);
    const V c = row(i + 2);
    const V d = row(i + 3);
    t[0] = _mm256_unpacklo_epi32(a, b);
    t[1] = _mm256_unpackhi_epi32(a, b);
    t[2] = _mm256_unpacklo_epi32(c, d);
    t[3] = _mm256_unpackhi_epi32(c, d);
    u[i] = _mm256_unpacklo_epi64(t[0], t[2]);
    u[i + 1] = _mm256_unpackhi_epi64(t[0], t[2]);
    u[i + 2] = _mm256_unpacklo_epi64(t[1], t[3]);
    u[i + 3] = _mm256_unpackhi_epi64(t[1], t[3]);
  }
  for (int k = 0; k < 4; ++k) {
    out[k] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x20);
    out[k + 4] = _mm256_permute2x128_si256(u[k], u[k + 4], 0x31);
  }
}

// One value of each lane's job (lanes past `count` repeat the last job).
template <typename Field>
std::array<std::int32_t, 8> per_lane(const MaskJob* jobs, int count, Field field) {
  std::array<std::int32_t, 8> v{};
  for (int lane = 0; lane < 8; ++lane) v[idx(lane)] = field(jobs[std::min(lane, count - 1)]);
  return v;
}

__attribute__((target("avx2"))) void eight_masks(const MaskJob* jobs, int count, ac3::MaskResult* results) {
  // The psd of all eight, bin by bin (lane i of psd[bin] is lane i's),
  // silent past each channel's end.
  std::array<const std::int32_t*, 8> rows;
  for (int lane = 0; lane < 8; ++lane) rows[idx(lane)] = jobs[std::min(lane, count - 1)].exps;
  const V end = load(per_lane(jobs, count, [](const MaskJob& j) { return j.end; }));
  int least_end = 256;
  int most_end = 0;
  for (int lane = 0; lane < count; ++lane) {
    least_end = std::min(least_end, jobs[lane].end);
    most_end = std::max(most_end, jobs[lane].end);
  }
  V psd[256];
  for (int b = 0; b < 256; b += 8) {
    if (b >= most_end) {
      for (int k = b; k < b + 8; ++k) psd[k] = splat(kSilent);
      continue;
    }
    transpose(rows.data(), idx(b), psd + b);
    for (int k = b; k < b + 8; ++k) psd[k] = _mm256_sub_epi32(splat(3072), _mm256_slli_epi32(psd[k], 7));
    if (b + 8 > least_end) {
      for (int k = b; k < b + 8; ++k) psd[k] = _mm256_blendv_epi8(splat(kSilent), psd[k], _mm256_cmpgt_epi32(end, splat(k)));
    }
  }
  const V bndend = load(per_lane(jobs, count, [](const MaskJob& j) { return ac3::masktab[idx(j.end - 1)] + 1; }));

  // Integration of the psd into bands; 0 from each channel's last band on
  // (the compensation test of its last band reads the next).
  // The wide bands' sums are independent: they advance together, bin by
  // bin within the band, so that their table lookups overlap.
  V bndpsd[ac3::kBands + 1];
  for (int band = 0; band < ac3::kBands; ++band) bndpsd[band] = psd[ac3::bndtab[idx(band)]];
  int running = kFirstWideBand;  // the first band not yet summed (bands widen upwards)
  for (int step = 1; running < ac3::kBands; ++step) {
    while (running < ac3::kBands && ac3::bndsz[idx(running)] <= step) ++running;
    for (int band = running; band < ac3::kBands; ++band) {
      bndpsd[band] = logadd(bndpsd[band], psd[ac3::bndtab[idx(band)] + step]);
    }
  }
  for (int band = 0; band < ac3::kBands; ++band) {
    bndpsd[band] = _mm256_andnot_si256(_mm256_cmpgt_epi32(splat(band + 1), bndend), bndpsd[band]);
  }
  bndpsd[ac3::kBands] = _mm256_setzero_si256();

  // Excitation. Every lane runs every band; what a lane finds past its
  // last band is never read.
  const V fgain = load(per_lane(jobs, count, [](const MaskJob& j) { return j.fgain; }));
  const V sgain = load(per_lane(jobs, count, [](const MaskJob& j) { return j.params.sgain; }));
  const V fdecay = load(per_lane(jobs, count, [](const MaskJob& j) { return j.params.fdecay; }));
  const V sdecay = load(per_lane(jobs, count, [](const MaskJob& j) { return j.params.sdecay; }));
  const V dbknee = load(per_lane(jobs, count, [](const MaskJob& j) { return j.params.dbknee; }));
  // A channel of seven bands (the LFE) skips the compensation test of band 6.
  const V seven = _mm256_cmpeq_epi32(bndend, splat(7));
  V excite[ac3::kBands];
  V lowcomp = lowcomp_after(_mm256_setzero_si256(), bndpsd[0], bndpsd[1], 0);
  excite[0] = _mm256_sub_epi32(_mm256_sub_epi32(bndpsd[0], fgain), lowcomp);
  lowcomp = lowcomp_after(lowcomp, bndpsd[1], bndpsd[2], 1);
  excite[1] = _mm256_sub_epi32(_mm256_sub_epi32(bndpsd[1], fgain), lowcomp);
  V fastleak = _mm256_setzero_si256();
  V slowleak = _mm256_setzero_si256();
  // Lanes still in the first phase: from band 2 until a band's psd is at
  // most the next's, the leaks restart at each band.
  V first_phase = splat(-1);
  for (int band = 2; band < ac3::kBands; ++band) {
    const V b = bndpsd[band];
    if (band < 22) {
      const V compare = band == 6 ? _mm256_xor_si256(seven, splat(-1)) : splat(-1);
      lowcomp = _mm256_blendv_epi8(lowcomp, lowcomp_after(lowcomp, b, bndpsd[band + 1], band), compare);
    }
    const V fast_leaky = _mm256_max_epi32(_mm256_sub_epi32(fastleak, fdecay), _mm256_sub_epi32(b, fgain));
    const V slow_leaky = _mm256_max_epi32(_mm256_sub_epi32(slowleak, sdecay), _mm256_sub_epi32(b, sgain));
    if (band < 7) {
      const V fast_fresh = _mm256_sub_epi32(b, fgain);
      fastleak = _mm256_blendv_epi8(fast_leaky, fast_fresh, first_phase);
      slowleak = _mm256_blendv_epi8(slow_leaky, _mm256_sub_epi32(b, sgain), first_phase);
      excite[band] = _mm256_blendv_epi8(_mm256_max_epi32(_mm256_sub_epi32(fastleak, lowcomp), slowleak),
                                             _mm256_sub_epi32(fast_fresh, lowcomp), first_phase);
      const V compare = band == 6 ? _mm256_xor_si256(seven, splat(-1)) : splat(-1);
      const V ends = _mm256_and_si256(compare, _mm256_xor_si256(_mm256_cmpgt_epi32(b, bndpsd[band + 1]), splat(-1)));
      first_phase = _mm256_andnot_si256(ends, first_phase);
    } else {
      fastleak = fast_leaky;
      slowleak = slow_leaky;
      excite[band] = band < 22 ? _mm256_max_epi32(_mm256_sub_epi32(fastleak, lowcomp), slowleak)
                                    : _mm256_max_epi32(fastleak, slowleak);
    }
  }

  // Masking curve, handed out lane by lane once complete.
  alignas(32) std::array<std::array<std::int32_t, 8>, ac3::kBands> mask;
  for (int band = 0; band < ac3::kBands; ++band) {
    const V b = bndpsd[band];
    const V knee = _mm256_srai_epi32(_mm256_sub_epi32(dbknee, b), 2);
    const V e = _mm256_add_epi32(excite[band], _mm256_and_si256(knee, _mm256_cmpgt_epi32(dbknee, b)));
    _mm256_store_si256(reinterpret_cast<V*>(mask[idx(band)].data()),
                       _mm256_max_epi32(e, splat(ac3::hth48[idx(band)])));
  }
  // Eight bands at a time turned back into rows, the last two alone.
  std::array<const std::int32_t*, 8> bands;
  for (int first = 0; first + 8 <= ac3::kBands; first += 8) {
    for (int k = 0; k < 8; ++k) bands[idx(k)] = mask[idx(first + k)].data();
    V row[8];
    transpose(bands.data(), 0, row);
    for (int lane = 0; lane < count; ++lane) {
      _mm256_storeu_si256(reinterpret_cast<V*>(results[idx(jobs[lane].result)].mask.data() + first), row[lane]);
    }
  }
  for (int lane = 0; lane < count; ++lane) {
    for (int band = ac3::kBands / 8 * 8; band < ac3::kBands; ++band) {
      results[idx(jobs[lane].result)].mask[idx(band)] = mask[idx(band)][idx(lane)];
    }
  }
}

#endif

}  // namespace

void compute_mask_batch(std::span<const MaskJob> jobs, std::span<ac3::MaskResult> results) {
  const auto one = [&](const MaskJob& j) {
    ac3::MaskInput in;
    in.end = j.end;
    in.fgain = j.fgain;
    ac3::compute_mask(std::span<const std::int32_t, 256>(j.exps, 256), in, j.params, results[idx(j.result)]);
  };
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (ac3::avx2::available()) {
    // Channels of a few bins (the LFE's seven) cost little alone; a lane
    // runs through all 253.
    std::array<MaskJob, 64> wide;
    std::size_t n = 0;
    for (const MaskJob& j : jobs) {
      if (j.end <= kFirstWideBand || n == wide.size()) {
        one(j);
      } else {
        wide[n++] = j;
      }
    }
    for (std::size_t first = 0; first < n; first += 8) {
      eight_masks(wide.data() + first, static_cast<int>(std::min<std::size_t>(8, n - first)), results.data());
    }
    return;
  }
#endif
  for (const MaskJob& j : jobs) one(j);
}

}  // namespace kelvor::transcode
