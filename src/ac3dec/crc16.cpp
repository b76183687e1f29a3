#include "ac3dec/crc16.h"

#include <array>
#include <bit>
#include <utility>

namespace kelvor {

namespace {
constexpr auto kTables = make_ac3_crc_tables<8>();
}  // namespace

std::uint16_t ac3_crc16(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = 0;
  std::size_t i = 0;
  for (; i + 8 <= bytes.size(); i += 8) {
    crc = kTables[7][(crc >> 8) ^ bytes[i]] ^ kTables[6][(crc & 0xFFu) ^ bytes[i + 1]] ^ kTables[5][bytes[i + 2]] ^
          kTables[4][bytes[i + 3]] ^ kTables[3][bytes[i + 4]] ^ kTables[2][bytes[i + 5]] ^
          kTables[1][bytes[i + 6]] ^ kTables[0][bytes[i + 7]];
  }
  for (; i < bytes.size(); ++i) crc = ((crc & 0xFFu) << 8) ^ ac3_crc_table[(crc >> 8) ^ bytes[i]];
  return static_cast<std::uint16_t>(crc);
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
