#pragma once
// What the first bytes of an AC-3 or E-AC-3 syncframe say about the frame:
// its kind, length and block count. Used to cut elementary streams into
// frames before decoding.
#include <cstddef>
#include <cstdint>
#include <span>

namespace kelvor {

struct SyncframeInfo {
  std::size_t length = 0;  // bytes; 0 when the header is not a usable syncframe
  bool eac3 = false;
  unsigned num_blocks = 0;
  bool independent = false;  // E-AC-3: strmtyp 0 or 2 and substream 0; always true for AC-3
};

// Reads the header at the start of `bytes` (at least 6 bytes). Frames at
// sample rates other than 48 kHz and bsid values of neither kind give
// length 0.
SyncframeInfo read_syncinfo(std::span<const std::uint8_t> bytes);

}  // namespace kelvor
