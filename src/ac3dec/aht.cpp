#include "ac3dec/aht.h"

#include "ac3dec/ac3_math.h"
#include "ac3dec/constexpr_math.h"
#include "ac3dec/eac3_tables.h"
#include "ac3dec/mantissas.h"

namespace kelvor::ac3 {

namespace {

// sqrt(2) cos((2m + 1) k pi / 12) in Q24, for k = 1..5 and m = 0..5.
constexpr std::array<std::array<Q24, 6>, 6> make_idct_matrix() {
  std::array<std::array<Q24, 6>, 6> c{};
  for (int k = 1; k < 6; ++k)
    for (int m = 0; m < 6; ++m)
      c[static_cast<std::size_t>(k)][static_cast<std::size_t>(m)] =
          cmath::to_q24(1.4142135623730951 * cmath::sincos_turns((2 * m + 1) * k, 24).c);
  return c;
}
constexpr auto kIdct = make_idct_matrix();

// Gain bins are those whose hebap lies above 7 and below this bound.
constexpr unsigned end_gain_bap(unsigned gaqmod) { return gaqmod < 2 ? 12 : 17; }

Q24 read_scalar(BitReader& br, unsigned hebap, unsigned g) {
  const unsigned w = eac3::kHebapBits[hebap];
  if (g == 0) return mul_sat_q24(signed_fraction(br.read_bits(w), w), eac3::kGaqScale1[hebap - 8]);
  const unsigned bits = w - g;
  const std::uint32_t code = br.read_bits(bits);
  if (code != (1u << (bits - 1))) return signed_fraction(code, bits) >> g;
  // Escape: a large mantissa follows, remapped to the range the gain left out.
  const unsigned large_bits = w + g - 2;
  const Q24 v = signed_fraction(br.read_bits(large_bits), large_bits);
  const Q24 offset = v < 0 ? eac3::kGaqOffsetNeg[hebap - 8][g - 1] : (kQ24One >> g);
  return add_sat_q24(mul_sat_q24(v, eac3::kGaqScale[hebap - 8][g - 1]), offset);
}

}  // namespace

AhtBin aht_inverse_dct(const AhtBin& x) {
  AhtBin out{};
  for (std::size_t m = 0; m < 6; ++m) {
    Q24 sum = x[0];
    for (std::size_t k = 1; k < 6; ++k) sum = add_sat_q24(sum, mul_sat_q24(x[k], kIdct[k][m]));
    out[m] = sum;
  }
  return out;
}

bool read_aht_channel(BitReader& br, std::span<const std::uint8_t, 256> hebap, int start, int end,
                      Ac3Dither& dither, bool dither_empty_bins, std::span<AhtBin, 256> out) {
  const unsigned gaqmod = br.read_bits(2);
  const unsigned endbap = end_gain_bap(gaqmod);
  std::array<std::uint8_t, 256> gain{};
  if (gaqmod != 0) {
    int pending = 0;  // gain values left from the last triplet code
    std::array<std::uint8_t, 3> triplet{};
    for (int bin = start; bin < end; ++bin) {
      const unsigned h = hebap[static_cast<std::size_t>(bin)];
      if (h <= 7 || h >= endbap) continue;
      if (gaqmod < 3) {
        gain[static_cast<std::size_t>(bin)] = static_cast<std::uint8_t>(br.read_bits(1) << (gaqmod - 1));
        continue;
      }
      if (pending == 0) {
        const std::uint32_t code = br.read_bits(5);
        if (code > 26) return false;
        triplet = {static_cast<std::uint8_t>(code / 9), static_cast<std::uint8_t>((code % 9) / 3),
                   static_cast<std::uint8_t>(code % 3)};
        pending = 3;
      }
      gain[static_cast<std::size_t>(bin)] = triplet[static_cast<std::size_t>(3 - pending--)];
    }
  }
  for (int bin = start; bin < end; ++bin) {
    const unsigned h = hebap[static_cast<std::size_t>(bin)];
    AhtBin x{};
    if (h == 0) {
      if (!dither_empty_bins) {
        out[static_cast<std::size_t>(bin)] = {};
        continue;
      }
      for (Q24& v : x) v = dither.dither_next();
    } else if (h <= 7) {
      const unsigned index = br.read_bits(eac3::kHebapBits[h]);
      for (unsigned blk = 0; blk < 6; ++blk) x[blk] = eac3::vq_value(h, index, blk);
    } else {
      const unsigned g = gain[static_cast<std::size_t>(bin)];
      for (Q24& v : x) v = read_scalar(br, h, g);
    }
    out[static_cast<std::size_t>(bin)] = aht_inverse_dct(x);
  }
  return true;
}

}  // namespace kelvor::ac3
