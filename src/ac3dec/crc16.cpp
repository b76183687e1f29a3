#include "ac3dec/crc16.h"

#include <array>
#include <bit>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kelvor {

namespace {
constexpr auto kTables = make_ac3_crc_tables<8>();

// The register after the bytes, from the register crc.
std::uint32_t crc_by_table(std::uint32_t crc, std::span<const std::uint8_t> bytes) {
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    crc = kTables[7][(crc >> 8) ^ bytes[i]] ^ kTables[6][(crc & 0xFFu) ^ bytes[i + 1]] ^ kTables[5][bytes[i + 2]] ^
          kTables[4][bytes[i + 3]] ^ kTables[3][bytes[i + 4]] ^ kTables[2][bytes[i + 5]] ^
          kTables[1][bytes[i + 6]] ^ kTables[0][bytes[i + 7]];
  }
  for (; i < bytes.size(); ++i) crc = ((crc & 0xFFu) << 8) ^ ac3_crc_table[(crc >> 8) ^ bytes[i]];
  return crc;
}

#if defined(__x86_64__)
// x^n modulo the generator (x^16 + x^15 + x^2 + 1).
constexpr std::uint64_t x_power_mod(unsigned n) {
  std::uint32_t r = 1;
  for (unsigned i = 0; i < n; ++i) r = (r & 0x8000u) ? ((r << 1) ^ 0x8005u) & 0xFFFFu : r << 1;
  return r;
}

// Carry-less multiplication folds the message 32 bytes a step into a
// 128-bit value congruent to it modulo the generator (the 16 bytes read
// first taken as the highest terms): a step multiplies each 64-bit half
// already held, and each half of the first new 16 bytes, by x to the power
// it is moved up, reduced, and adds the last 16 bytes. The register is
// then that of the 16 bytes of the folded value, continued over what is
// left.
__attribute__((target("pclmul,ssse3"))) std::uint32_t crc_by_clmul(std::span<const std::uint8_t> bytes) {
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const auto load = [&](std::size_t at) __attribute__((target("pclmul,ssse3"))) {
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data() + at)), reverse);
  };
  // Low lane x^n for the low half, high lane x^(n + 64) for the high half.
  constexpr auto k128 = static_cast<long long>(x_power_mod(128));
  constexpr auto k192 = static_cast<long long>(x_power_mod(192));
  constexpr auto k256 = static_cast<long long>(x_power_mod(256));
  constexpr auto k320 = static_cast<long long>(x_power_mod(320));
  const __m128i by128 = _mm_set_epi64x(k192, k128);
  const __m128i by256 = _mm_set_epi64x(k320, k256);
  const auto fold = [](__m128i v, __m128i k) __attribute__((target("pclmul,ssse3"))) {
    return _mm_xor_si128(_mm_clmulepi64_si128(v, k, 0x00), _mm_clmulepi64_si128(v, k, 0x11));
  };
  __m128i acc = load(0);
  std::size_t i = 16;
  for (; i + 32 <= bytes.size(); i += 32) {
    acc = _mm_xor_si128(_mm_xor_si128(fold(acc, by256), fold(load(i), by128)), load(i + 16));
  }
  if (i + 16 <= bytes.size()) {
    acc = _mm_xor_si128(fold(acc, by128), load(i));
    i += 16;
  }
  alignas(16) std::array<std::uint8_t, 16> folded{};
  _mm_store_si128(reinterpret_cast<__m128i*>(folded.data()), _mm_shuffle_epi8(acc, reverse));
  return crc_by_table(crc_by_table(0, folded), bytes.subspan(i));
}
#endif

}  // namespace

std::uint16_t ac3_crc16(std::span<const std::uint8_t> bytes) {
#if defined(__x86_64__)
  static const bool clmul = __builtin_cpu_supports("pclmul") != 0 && __builtin_cpu_supports("ssse3") != 0;
  if (clmul && bytes.size() >= 64) return static_cast<std::uint16_t>(crc_by_clmul(bytes));
#endif
  return static_cast<std::uint16_t>(crc_by_table(0, bytes));
}

}  // namespace kelvor

namespace kelvor {

namespace {

void put_word(std::span<std::uint8_t> at, std::uint16_t word) {
  at[0] = static_cast<std::uint8_t>(word >> 8);
  at[1] = static_cast<std::uint8_t>(word);
}

// The remainder over bytes 2..p-1 is linear in the crc1 word c: solve the
// 16 x 16 system over GF(2) that makes it zero.
std::uint16_t solve_crc1(std::span<std::uint8_t> frame, std::size_t p) {
  const auto range = frame.subspan(2, p - 2);
  put_word(frame.subspan(2), 0);
  const std::uint16_t base = ac3_crc16(range);
  std::array<std::uint32_t, 16> rows{};  // per remainder bit: coefficients of c, target in bit 16
  for (unsigned bit = 0; bit < 16; ++bit) {
    put_word(frame.subspan(2), static_cast<std::uint16_t>(1u << bit));
    const std::uint32_t column = ac3_crc16(range) ^ base;
    for (unsigned r = 0; r < 16; ++r) rows[r] |= ((column >> r) & 1u) << bit;
  }
  for (unsigned r = 0; r < 16; ++r) rows[r] |= ((base >> r) & 1u) << 16;
  unsigned rank = 0;
  for (unsigned bit = 0; bit < 16 && rank < 16; ++bit) {
    unsigned pivot = 16;
    for (unsigned r = rank; r < 16; ++r) {
      if ((rows[r] >> bit) & 1u) pivot = r;
    }
    if (pivot == 16) continue;
    std::swap(rows[pivot], rows[rank]);
    for (unsigned r = 0; r < 16; ++r) {
      if (r != rank && ((rows[r] >> bit) & 1u)) rows[r] ^= rows[rank];
    }
    ++rank;
  }
  std::uint16_t c = 0;
  for (unsigned r = 0; r < rank; ++r) {
    const std::uint32_t coefficients = rows[r] & 0xFFFFu;
    c = static_cast<std::uint16_t>(c | (((rows[r] >> 16) & 1u) << std::countr_zero(coefficients)));
  }
  return c;
}

}  // namespace

void ac3_set_frame_crcs(std::span<std::uint8_t> frame, bool eac3) {
  const std::size_t n = frame.size();
  if (n < 8) return;
  if (eac3) {
    put_word(frame.subspan(n - 2), ac3_crc16(frame.subspan(2, n - 4)));
    return;
  }
  const std::size_t p = 2 * (n / 4 + n / 16);
  put_word(frame.subspan(2), solve_crc1(frame, p));
  put_word(frame.subspan(n - 2), ac3_crc16(frame.subspan(p, n - p - 2)));
}

}  // namespace kelvor
