#include "common/crc32_mpeg.h"

#include <array>

namespace kelvor {
namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7;

constexpr std::array<std::uint32_t, 256> MakeTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t k = 0; k < 256; ++k) {
    std::uint32_t reg = k << 24;
    for (int bit = 0; bit < 8; ++bit) {
      reg = (reg & 0x80000000u) ? (reg << 1) ^ kPolynomial : reg << 1;
    }
    table[k] = reg;
  }
  return table;
}

// Built once, at compile time.
constexpr auto kTable = MakeTable();

}  // namespace

std::uint32_t Crc32Mpeg(std::span<const std::uint8_t> bytes) {
  std::uint32_t reg = 0xFFFFFFFF;
  for (std::uint8_t b : bytes) {
    reg = (reg << 8) ^ kTable[((reg >> 24) ^ b) & 0xFF];
  }
  return reg;
}

}  // namespace kelvor
