#pragma once
// Mantissas of the AC-3 writer: the quantisation of coefficients to codes
// (the grouped quantisers of pointers 1, 2 and 4 combine three, three and
// two values into one code across the channels of a block) and the packing
// of the codes.
#include <array>
#include <cstdint>

#include "common/q24.h"
#include "transcode/bit_writer.h"

namespace kelvor::transcode {

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

// Writes the codes of bins 0..end-1 (`codes` and `bap` hold 256 entries).
void pack_mantissas(const std::uint16_t* codes, const std::uint8_t* bap, int end, BitWriter& bw);

}  // namespace kelvor::transcode
