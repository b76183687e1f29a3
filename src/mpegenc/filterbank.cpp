#include "mpegenc/filterbank.h"

#include <cstddef>

#include "mpegenc/analysis_window.h"
#include "mpegenc/trig.h"

namespace kelvor::mpegenc {
namespace {

using Matrix = std::array<std::array<Q24, 64>, kSubbands>;

// Subbands sb and 31 - sb share their coefficients up to the sign (-1)^m of
// the term, and the terms around k = 16 and k = 48 pair up; building the
// table from the 16 lower subbands keeps those identities exact.
constexpr Matrix BuildMatrixing() {
  Matrix m{};
  for (int sb = 0; sb < 16; ++sb) {
    const int odd = 2 * sb + 1;
    const int sign = (sb % 2 == 0) ? 1 : -1;
    auto& lo = m[static_cast<std::size_t>(sb)];
    auto& hi = m[static_cast<std::size_t>(31 - sb)];
    for (int t = 0; t <= 16; ++t) {
      const Q24 c = RoundToQ24(CosSinOfTurns(odd * t, 128).c);
      const Q24 flip = (t % 2 == 0) ? c : -c;
      lo[static_cast<std::size_t>(16 + t)] = lo[static_cast<std::size_t>(16 - t)] = c;
      hi[static_cast<std::size_t>(16 + t)] = hi[static_cast<std::size_t>(16 - t)] = flip;
    }
    lo[48] = hi[48] = 0;
    for (int r = 1; r <= 15; ++r) {
      const Q24 s = RoundToQ24(CosSinOfTurns(odd * r, 128).s);
      const Q24 up = sign > 0 ? -s : s;  // M[sb][48 + r] = -(-1)^sb sin((2sb + 1) r pi / 64)
      const Q24 upHi = (r % 2 == 0) ? up : -up;
      lo[static_cast<std::size_t>(48 + r)] = up;
      lo[static_cast<std::size_t>(48 - r)] = -up;
      hi[static_cast<std::size_t>(48 + r)] = upHi;
      hi[static_cast<std::size_t>(48 - r)] = -upHi;
    }
  }
  return m;
}

constexpr Matrix kMatrix = BuildMatrixing();

// The folded matrixing: for subband sb < 16, the coefficients of the terms of
// even and of odd order; subband 31 - sb uses the same with the odd ones negated.
struct Folded {
  std::array<std::array<Q24, 16>, 16> even;
  std::array<std::array<Q24, 16>, 16> odd;
};

constexpr Folded BuildFolded() {
  Folded f{};
  for (std::size_t sb = 0; sb < 16; ++sb) {
    for (std::size_t i = 0; i < 9; ++i) f.even[sb][i] = kMatrix[sb][16 + 2 * i];       // c0, c2 .. c16
    for (std::size_t i = 0; i < 7; ++i) f.even[sb][9 + i] = kMatrix[sb][48 + 2 + 2 * i];  // d2 .. d14
    for (std::size_t i = 0; i < 8; ++i) {
      f.odd[sb][i] = kMatrix[sb][16 + 1 + 2 * i];  // c1 .. c15
      f.odd[sb][8 + i] = kMatrix[sb][48 + 1 + 2 * i];  // d1 .. d15
    }
  }
  return f;
}

constexpr Folded kFolded = BuildFolded();

// The window reversed, so that slot t multiplies pcm[32t + j] by it in order.
constexpr std::array<Q24, 512> kWindowReversed = [] {
  std::array<Q24, 512> r{};
  for (std::size_t j = 0; j < 512; ++j) r[j] = kAnalysisWindow[511 - j];
  return r;
}();

constexpr Q24 RoundSum(std::int64_t v) { return saturate_i32((v + (std::int64_t{1} << 23)) >> 24); }

void MatrixSlot(const std::array<Q24, 64>& y, std::span<Q24, kSubbands> out) {
  std::array<Q24, 16> e;
  std::array<Q24, 16> o;
  e[0] = y[16];
  for (int i = 1; i < 9; ++i) {
    const int m = 2 * i;  // 2 .. 16; m = 16 pairs k = 32 with k = 0
    e[static_cast<std::size_t>(i)] = y[static_cast<std::size_t>(16 + m)] + y[static_cast<std::size_t>(16 - m)];
  }
  for (int i = 0; i < 7; ++i) {
    const int r = 2 + 2 * i;
    e[static_cast<std::size_t>(9 + i)] = y[static_cast<std::size_t>(48 + r)] - y[static_cast<std::size_t>(48 - r)];
  }
  for (int i = 0; i < 8; ++i) {
    const int m = 1 + 2 * i;
    o[static_cast<std::size_t>(i)] = y[static_cast<std::size_t>(16 + m)] + y[static_cast<std::size_t>(16 - m)];
    o[static_cast<std::size_t>(8 + i)] = y[static_cast<std::size_t>(48 + m)] - y[static_cast<std::size_t>(48 - m)];
  }
  for (std::size_t sb = 0; sb < 16; ++sb) {
    std::int64_t even = 0;
    std::int64_t odd = 0;
    for (std::size_t i = 0; i < 16; ++i) {
      even += static_cast<std::int64_t>(kFolded.even[sb][i]) * e[i];
      odd += static_cast<std::int64_t>(kFolded.odd[sb][i]) * o[i];
    }
    out[sb] = RoundSum(even + odd);
    out[31 - sb] = RoundSum(even - odd);
  }
}

}  // namespace

const std::array<std::array<Q24, 64>, kSubbands> kMatrixing = kMatrix;

void AnalyseFrame(std::span<const Q24> pcm, SubbandFrame& out) {
  for (int t = 0; t < kSlots; ++t) {
    const Q24* x = pcm.data() + 32 * t;  // oldest of the 512 samples of this slot
    std::array<Q24, 512> z;              // z[j] belongs to X[511 - j]
    for (std::size_t j = 0; j < 512; ++j) z[j] = mul_q24(x[j], kWindowReversed[j]);
    std::array<Q24, 64> y;
    for (std::size_t k = 0; k < 64; ++k) {
      std::int64_t sum = 0;
      for (std::size_t j = 0; j < 8; ++j) sum += z[511 - k - 64 * j];
      y[k] = saturate_i32(sum);
    }
    MatrixSlot(y, out[static_cast<std::size_t>(t)]);
  }
}

void AnalyseSlotDirect(std::span<const Q24, 512> x, std::span<Q24, kSubbands> out) {
  std::array<Q24, 64> y{};
  for (std::size_t k = 0; k < 64; ++k) {
    std::int64_t sum = 0;
    for (std::size_t j = 0; j < 8; ++j) sum += mul_q24(x[k + 64 * j], kAnalysisWindow[k + 64 * j]);
    y[k] = saturate_i32(sum);
  }
  for (std::size_t sb = 0; sb < kSubbands; ++sb) {
    std::int64_t sum = 0;
    for (std::size_t k = 0; k < 64; ++k) sum += mul_q24(kMatrix[sb][k], y[k]);
    out[sb] = saturate_i32(sum);
  }
}

}  // namespace kelvor::mpegenc
