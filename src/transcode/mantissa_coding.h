#pragma once
// Mantissas of the AC-3 writer: how many bits a block's pointers cost, the
// quantisation of coefficients to codes (the grouped quantisers of pointers
// 1, 2 and 4 combine three, three and two values into one code across the
// channels of a block) and the packing of the codes.
#include <array>
#include <cstdint>

#include "common/q24.h"
#include "transcode/bit_writer.h"

namespace kelvor::transcode {

// The bit allocation addresses (0..63, what the pointer table is indexed
// by) of bins 0..end-1 at one SNR offset, as the decoder finds them.
// `address` holds kAddressBins values: whole steps of eight are written.
inline constexpr std::size_t kAddressBins = 256;
void allocation_addresses(const std::int32_t* psd, const std::int32_t* mask, int end, int snroffset, int floor,
                          std::uint16_t* address);

// The mantissa bits of bins 0..end-1 of a channel at one SNR offset, as the
// pointers of the bit allocation would give them, without storing the
// pointers, packed so that channels and blocks add up: see
// packed_block_bits.
std::uint64_t packed_channel_bits(const std::int32_t* psd, const std::int32_t* mask, int end, int snroffset,
                                  int floor);

// The bits of one block from the sum of its channels' packed counts: a
// group is charged once, at its first member.
std::uint32_t packed_block_bits(std::uint64_t packed);

// Marks a bin of pointer 1, 2 or 4 whose value travels in an earlier bin's
// group code.
inline constexpr std::uint16_t kInGroup = 0xFFFF;

class MantissaQuantiser {
 public:
  // Closes the open groups; called at the start of every block.
  void start_block() { open_ = {}; }

  // Codes of bins 0..end-1 into `codes`; those of pointer 0 after the last
  // bin with bits are left as they were.
  void quantise(const Q24* coef, const std::int32_t* exps, const std::uint8_t* bap, int end, std::uint16_t* codes);

 private:
  struct OpenGroup {
    std::uint16_t* code = nullptr;  // at the first member
    std::uint16_t value = 0;        // the code so far
    int members = 0;
  };
  std::array<OpenGroup, 3> open_{};  // the groups of pointers 1, 2 and 4
};

// Writes the codes of bins 0..end-1.
void pack_mantissas(const std::uint16_t* codes, const std::uint8_t* bap, int end, BitWriter& bw);

}  // namespace kelvor::transcode
