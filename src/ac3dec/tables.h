#pragma once
// Tables of ATSC A/52 (AC-3) used by the decoder and the transcoder. Values
// are the standard's; see tables.cpp for where each comes from.
#include <array>
#include <cstdint>

#include "common/q24.h"

namespace kelvor::ac3 {

// Full-bandwidth channels per acmod (Table 5.8; 1+1 counts as 2).
inline constexpr std::array<std::uint8_t, 8> kNfchans = {2, 1, 2, 3, 3, 4, 4, 5};

// Syncframe size in 16-bit words at 48 kHz, indexed by frmsizecod / 2 (Table 5.18).
inline constexpr std::array<std::uint16_t, 19> kFrameSizeWords48 = {
    64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 640, 768, 896, 1024, 1152, 1280};

// Bit-allocation parameter tables (Tables 7.6 to 7.11), indexed by their codes.
inline constexpr std::array<std::int32_t, 4> kSlowDecay = {0x0F, 0x11, 0x13, 0x15};
inline constexpr std::array<std::int32_t, 4> kFastDecay = {0x3F, 0x53, 0x67, 0x7B};
inline constexpr std::array<std::int32_t, 4> kSlowGain = {0x540, 0x4D8, 0x478, 0x410};
inline constexpr std::array<std::int32_t, 4> kDbPerBit = {0x000, 0x700, 0x900, 0xB00};
inline constexpr std::array<std::int32_t, 8> kFloor = {0x2F0, 0x2B0, 0x270, 0x230, 0x1F0, 0x170, 0x0F0, -0x800};
inline constexpr std::array<std::int32_t, 8> kFastGain = {0x080, 0x100, 0x180, 0x200, 0x280, 0x300, 0x380, 0x400};

inline constexpr int kBands = 50;

// Banding structure (Table 7.12): first bin and width of each of the 50 bands.
extern const std::array<std::uint8_t, kBands> bndtab;
extern const std::array<std::uint8_t, kBands> bndsz;
// Bin to band (Table 7.13), derived from the banding structure.
extern const std::array<std::uint8_t, 256> masktab;
// Log-addition table (Table 7.14).
extern const std::array<std::int32_t, 256> latab;
// Hearing threshold at 48 kHz (Table 7.15, fscod 0 column).
extern const std::array<std::int32_t, kBands> hth48;
// Bit allocation pointers (Table 7.16).
extern const std::array<std::uint8_t, 64> baptab;

// Mantissa width in bits for bap 0..15 (Table 7.18); 0 for the grouped and
// symmetric quantisers of bap 0..5.
inline constexpr std::array<std::uint8_t, 16> kMantissaBits = {0, 0, 0, 0, 0, 0, 5, 6, 7, 8, 9, 10, 11, 12, 14, 16};

// Symmetric quantiser levels (Tables 7.19 to 7.23): level c of n is
// (2c - (n - 1)) / n in Q24, truncated toward zero.
template <int N>
constexpr std::array<Q24, N> make_levels() {
  std::array<Q24, N> levels{};
  for (int c = 0; c < N; ++c)
    levels[static_cast<std::size_t>(c)] =
        static_cast<Q24>((static_cast<std::int64_t>(2 * c - (N - 1)) << 24) / N);
  return levels;
}
inline constexpr auto kLevels3 = make_levels<3>();
inline constexpr auto kLevels5 = make_levels<5>();
inline constexpr auto kLevels7 = make_levels<7>();
inline constexpr auto kLevels11 = make_levels<11>();
inline constexpr auto kLevels15 = make_levels<15>();

// Rematrixing band edges (section 7.5.2): band b covers bins
// kRematBand[b] .. kRematBand[b + 1] - 1.
inline constexpr std::array<std::uint16_t, 5> kRematBand = {13, 25, 37, 61, 253};

}  // namespace kelvor::ac3
