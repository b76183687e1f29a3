#include "transcode/mantissa_coding.h"

#include <algorithm>

#include "ac3dec/tables.h"

namespace kelvor::transcode {

namespace {

constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }

// Bits of one code by pointer; for the grouped quantisers, of a group code.
constexpr std::array<std::uint8_t, 16> kCodeBits = {0, 5, 7, 3, 7, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16};

// Index of the level nearest to |coef| << exp among `levels` symmetric levels.
std::uint32_t symmetric_index(Q24 coef, std::int32_t exp, std::uint32_t levels) {
  const std::int64_t magnitude = coef < 0 ? -static_cast<std::int64_t>(coef) : coef;
  const std::int64_t x = magnitude << exp;
  const std::uint32_t half = (levels - 1) / 2;
  const auto c = static_cast<std::uint32_t>(std::min<std::int64_t>((((levels * x) >> 24) + 1) >> 1, half));
  return coef >= 0 ? half + c : half - c;
}

// A two's-complement code of `bits` bits for coef << exp, rounded: the
// rounded coef * 2^(bits + exp - 25). |coef| stays below 2^(25 - exp) (the
// exponent is at most the coefficient's own, or 0), so the product fits.
std::uint16_t linear_code(Q24 coef, std::int32_t exp, unsigned bits) {
  const std::int64_t q = ((static_cast<std::int64_t>(coef) << (static_cast<int>(bits) + exp)) + (1 << 24)) >> 25;
  const std::int64_t limit = std::int64_t{1} << (bits - 1);
  const std::int64_t clamped = std::clamp(q, -limit, limit - 1);
  return static_cast<std::uint16_t>(static_cast<std::uint64_t>(clamped) & ((1u << bits) - 1u));
}

// Per bit-allocation address: the bits of an ungrouped pointer in bits
// 0..23, and one in the 13-bit counter of pointer 1, 2 or 4 (bits 24, 37, 50).
std::array<std::uint64_t, 64> make_address_costs() {
  std::array<std::uint64_t, 64> costs{};
  for (std::size_t a = 0; a < 64; ++a) {
    const unsigned p = ac3::baptab[a];
    if (p == 1) {
      costs[a] = std::uint64_t{1} << 24;
    } else if (p == 2) {
      costs[a] = std::uint64_t{1} << 37;
    } else if (p == 4) {
      costs[a] = std::uint64_t{1} << 50;
    } else {
      costs[a] = kCodeBits[p];
    }
  }
  return costs;
}
const std::array<std::uint64_t, 64> kAddressCosts = make_address_costs();

}  // namespace

std::uint64_t packed_channel_bits(const std::int32_t* psd, const std::int32_t* mask, int end, int snroffset,
                                  int floor) {
  std::uint64_t packed = 0;
  int bin = 0;
  for (int band = 0; bin < end && band < ac3::kBands; ++band) {
    const int last = std::min(ac3::bndtab[idx(band)] + ac3::bndsz[idx(band)], end);
    std::int32_t m = mask[idx(band)] - snroffset - floor;
    m = (std::max(m, 0) & 0x1FE0) + floor;
    for (; bin < last; ++bin) packed += kAddressCosts[idx(std::clamp((psd[idx(bin)] - m) >> 5, 0, 63))];
  }
  return packed;
}

std::uint32_t packed_block_bits(std::uint64_t packed) {
  constexpr std::uint64_t kField = (1u << 13) - 1;
  const auto n1 = static_cast<std::uint32_t>((packed >> 24) & kField);
  const auto n2 = static_cast<std::uint32_t>((packed >> 37) & kField);
  const auto n4 = static_cast<std::uint32_t>((packed >> 50) & kField);
  return static_cast<std::uint32_t>(packed & 0xFFFFFFu) + 5 * ((n1 + 2) / 3) + 7 * ((n2 + 2) / 3) + 7 * ((n4 + 1) / 2);
}

void MantissaQuantiser::quantise(const Q24* coef, const std::int32_t* exps, const std::uint8_t* bap, int end,
                                 std::uint16_t* codes) {
  // Group g's members multiply their index by these weights.
  static constexpr std::array<std::array<std::uint16_t, 3>, 3> kWeights = {{{9, 3, 1}, {25, 5, 1}, {11, 1, 0}}};
  static constexpr std::array<int, 3> kMembers = {3, 3, 2};
  static constexpr std::array<std::uint32_t, 3> kLevels = {3, 5, 11};
  for (int bin = 0; bin < end; ++bin) {
    const auto b = idx(bin);
    const unsigned p = bap[b] & 15u;
    if (p == 0) {
      codes[b] = 0;
    } else if (p == 1 || p == 2 || p == 4) {
      const std::size_t g = p == 4 ? 2 : p - 1;
      OpenGroup& open = open_[g];
      const std::uint32_t index = symmetric_index(coef[b], exps[b], kLevels[g]);
      if (open.members == 0) {
        open.code = &codes[b];
        *open.code = 0;
      } else {
        codes[b] = kInGroup;
      }
      *open.code = static_cast<std::uint16_t>(*open.code + kWeights[g][idx(open.members)] * index);
      if (++open.members == kMembers[g]) open.members = 0;
    } else if (p == 3 || p == 5) {
      codes[b] = static_cast<std::uint16_t>(symmetric_index(coef[b], exps[b], p == 3 ? 7 : 15));
    } else {
      codes[b] = linear_code(coef[b], exps[b], ac3::kMantissaBits[p]);
    }
  }
}

void pack_mantissas(const std::uint16_t* codes, const std::uint8_t* bap, int end, BitWriter& out) {
  // A local copy keeps the writer's state in registers: its byte stores
  // could alias any member of the caller's.
  BitWriter bw = out;
  for (int bin = 0; bin < end; ++bin) {
    const auto b = idx(bin);
    const unsigned p = bap[b] & 15u;
    const bool grouped = p == 1 || p == 2 || p == 4;
    if (p != 0 && !(grouped && codes[b] == kInGroup)) bw.put_bits(codes[b], kCodeBits[p]);
  }
  out = bw;
}

}  // namespace kelvor::transcode
