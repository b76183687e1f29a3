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

// True when an AC-3/E-AC-3 sync word (0x0B77) starts at `at`, both of its
// bytes inside `bytes`.
constexpr bool sync_word_at(std::span<const std::uint8_t> bytes, std::size_t at) {
  return at < bytes.size() && bytes.size() - at >= 2 && bytes[at] == 0x0B && bytes[at + 1] == 0x77;
}

// Offset of the first sync word at or after `from`; bytes.size() when none.
std::size_t find_sync_word(std::span<const std::uint8_t> bytes, std::size_t from = 0);

// Reads the header at the start of `bytes` (at least 6 bytes). Frames at
// sample rates other than 48 kHz and bsid values of neither kind give
// length 0.
SyncframeInfo read_syncinfo(std::span<const std::uint8_t> bytes);

}  // namespace kelvor
