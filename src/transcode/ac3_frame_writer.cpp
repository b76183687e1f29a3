#include "transcode/ac3_frame_writer.h"

#include "ac3dec/crc16.h"
#include "ac3dec/tables.h"

namespace kelvor::transcode {

namespace {

constexpr std::uint32_t kGenerator = 0x18005;

constexpr std::uint16_t poly_mul(std::uint16_t a, std::uint16_t b) {
  std::uint32_t acc = 0;
  std::uint32_t other = b;
  for (unsigned bit = 0; bit < 16; ++bit) {
    if ((a >> bit) & 1u) acc ^= other;
    other <<= 1;
    if (other & 0x10000u) other ^= kGenerator;
  }
  return static_cast<std::uint16_t>(acc);
}

constexpr std::uint16_t poly_pow(std::uint16_t base, std::uint32_t exponent) {
  std::uint16_t result = 1;
  while (exponent != 0) {
    if (exponent & 1u) result = poly_mul(result, base);
    base = poly_mul(base, base);
    exponent >>= 1;
  }
  return result;
}

constexpr std::size_t crc1_end(std::size_t n) { return 2 * ((n >> 4) + (n >> 2)); }

constexpr std::array<std::uint16_t, 19> make_crc1_factors() {
  std::array<std::uint16_t, 19> factors{};
  constexpr std::uint16_t kInverseOfX = 0xC002;  // x * 0xC002 = 1 modulo the generator
  for (std::size_t k = 0; k < factors.size(); ++k) {
    const std::size_t f = crc1_end(2u * ac3::kFrameSizeWords48[k]);
    factors[k] = poly_pow(kInverseOfX, static_cast<std::uint32_t>(8 * f - 16));
  }
  return factors;
}
constexpr auto kCrc1Factors = make_crc1_factors();

void put_word(std::span<std::uint8_t> at, std::uint16_t word) {
  at[0] = static_cast<std::uint8_t>(word >> 8);
  at[1] = static_cast<std::uint8_t>(word);
}

}  // namespace

unsigned output_size_index(std::uint32_t input_bytes_per_six_blocks) {
  for (unsigned k = 0; k < ac3::kFrameSizeWords48.size(); ++k) {
    if (ac3::kFrameSizeWords48[k] >= input_bytes_per_six_blocks) return k;
  }
  return static_cast<unsigned>(ac3::kFrameSizeWords48.size() - 1);
}

void write_ac3_header(const Ac3HeaderFields& h, const FrameMetadata& meta, BitWriter& bw) {
  bw.put_bits(0x0B77, 16);
  bw.put_bits(0, 16);  // crc1, written last
  bw.put_bits(0, 2);   // fscod: 48 kHz
  bw.put_bits(2 * h.size_index, 6);
  bw.put_bits(8, 5);  // bsid
  bw.put_bits(0, 3);  // bsmod: complete main
  bw.put_bits(h.acmod, 3);
  if ((h.acmod & 1) && h.acmod != 1) bw.put_bits(1, 2);  // cmixlev -4.5 dB
  if (h.acmod & 4) bw.put_bits(1, 2);                     // surmixlev -6 dB
  if (h.acmod == 2) bw.put_bits(meta.dsurmod, 2);
  bw.put_bits(h.lfeon, 1);
  const auto program = [&bw](std::uint32_t dialnorm, std::uint32_t compre, std::uint32_t compr, std::uint32_t audprodie,
                             std::uint32_t mixlevel, std::uint32_t roomtyp) {
    bw.put_bits(dialnorm, 5);
    bw.put_bits(compre, 1);
    if (compre) bw.put_bits(compr, 8);
    bw.put_bits(0, 1);  // langcode
    bw.put_bits(audprodie, 1);
    if (audprodie) {
      bw.put_bits(mixlevel, 5);
      bw.put_bits(roomtyp, 2);
    }
  };
  program(meta.dialnorm, meta.compre, meta.compr, meta.audprodie, meta.mixlevel, meta.roomtyp);
  if (h.acmod == 0) program(meta.dialnorm2, meta.compr2e, meta.compr2, meta.audprodi2e, meta.mixlevel2, meta.roomtyp2);
  bw.put_bits(meta.copyrightb, 1);
  bw.put_bits(meta.origbs, 1);
  bw.put_bits(0, 1);  // timecod1e
  bw.put_bits(0, 1);  // timecod2e
  bw.put_bits(0, 1);  // addbsie
}

std::uint16_t crc1_factor(unsigned size_index) { return kCrc1Factors[size_index]; }

std::uint16_t crc_poly_mul(std::uint16_t a, std::uint16_t b) { return poly_mul(a, b); }

void write_ac3_crcs(std::span<std::uint8_t> frame, unsigned size_index) {
  const std::size_t n = frame.size();
  const std::size_t f = crc1_end(n);
  // crc1 leads the range it protects, so it is the remainder of what
  // follows it, moved back over that range's length.
  const std::uint16_t rest = ac3_crc16(frame.subspan(4, f - 4));
  put_word(frame.subspan(2), poly_mul(rest, kCrc1Factors[size_index]));
  put_word(frame.subspan(n - 2), ac3_crc16(frame.subspan(f, n - 2 - f)));
}

}  // namespace kelvor::transcode
