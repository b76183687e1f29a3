#pragma once
// The frame around the AC-3 writer's audio blocks: the output frame size
// for an input byte rate, the syncinfo and bsi, and the two CRC words.
#include <array>
#include <cstdint>
#include <span>

#include "transcode/bit_writer.h"
#include "transcode/block_store.h"

namespace kelvor::transcode {

// Index into the 48 kHz frame size table (frmsizecod / 2): the first size
// whose count of 16-bit words reaches the input's bytes per six blocks, so
// that the output has at least twice the input's bytes; the largest when
// none does.
unsigned output_size_index(std::uint32_t input_bytes_per_six_blocks);

struct Ac3HeaderFields {
  unsigned size_index = 0;
  unsigned acmod = 0;
  unsigned lfeon = 0;
};

// Syncinfo (with crc1 zero) and bsi, bsid 8.
void write_ac3_header(const Ac3HeaderFields& h, const FrameMetadata& meta, BitWriter& bw);

// x^-(8F - 16) modulo the CRC generator, F the 5/8 boundary of the frame
// size with this index: the factor that turns the remainder of bytes
// 4..F-1 into the crc1 word.
std::uint16_t crc1_factor(unsigned size_index);

// Product of two 16-bit polynomials modulo x^16 + x^15 + x^2 + 1.
std::uint16_t crc_poly_mul(std::uint16_t a, std::uint16_t b);

// Writes crc1 (bytes 2-3) and crc2 (the last two bytes) of a whole frame.
void write_ac3_crcs(std::span<std::uint8_t> frame, unsigned size_index);

}  // namespace kelvor::transcode
