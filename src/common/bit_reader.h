#pragma once
// Most-significant-bit-first reader of 0..16 bits at a time over a byte
// range. Reading past the end yields zeros and consumes nothing, so a parser
// that runs off the end of a frame sees zeros for ever.
//
// Bits are taken from a 64-bit cache that is refilled eight bytes at a time
// while at least eight bytes remain and one byte at a time near the end, so
// the common read is a shift inlined into the caller.
#include <cstdint>
#include <span>

namespace kelvor {

class BitReader {
 public:
  BitReader() = default;
  explicit BitReader(std::span<const std::uint8_t> range) { reset(range); }

  void reset(std::span<const std::uint8_t> range) {
    cache_ = 0;
    cached_ = 0;
    next_ = range.data();
    end_ = range.data() + range.size();
  }

  // The next n bits (0 <= n <= 16), first bit most significant.
  std::uint32_t read_bits(unsigned n) {
    if (cached_ < n) [[unlikely]] {
      refill();
      if (cached_ < n) return 0;  // fewer than n bits left: nothing consumed
    }
    // Two shifts so that n = 0 yields 0 without a shift by 64.
    const auto value = static_cast<std::uint32_t>((cache_ >> 1) >> (63 - n));
    cache_ <<= n;
    cached_ -= n;
    return value;
  }

  // Consumes n >= 1 bits in chunks of 16 and returns the last chunk
  // (1..16 bits).
  std::uint32_t skip_bits_long(unsigned n);

  // Bits not yet consumed.
  std::uint64_t bits_remaining() const { return static_cast<std::uint64_t>(end_ - next_) * 8 + cached_; }
  // The byte after the one being consumed (the next byte when at a byte
  // boundary), and the unconsumed bits of the byte being consumed (0..7).
  const std::uint8_t* read_ptr() const { return next_ - cached_ / 8; }
  unsigned bits_left() const { return cached_ % 8; }

 private:
  // Tops the cache up to at least 57 bits, or with every byte left.
  void refill() {
    if (end_ - next_ >= 8) {
      // Whole bytes that fit behind the cached bits; the part of a byte that
      // does not fit lands below them and is loaded again next time.
      cache_ |= load_big_endian64(next_) >> cached_;
      next_ += (63 - cached_) / 8;
      cached_ |= 56;
      return;
    }
    while (cached_ <= 56 && next_ != end_) {
      cache_ |= std::uint64_t{*next_++} << (56 - cached_);
      cached_ += 8;
    }
  }

  static std::uint64_t load_big_endian64(const std::uint8_t* p) {
    return (std::uint64_t{p[0]} << 56) | (std::uint64_t{p[1]} << 48) | (std::uint64_t{p[2]} << 40) |
           (std::uint64_t{p[3]} << 32) | (std::uint64_t{p[4]} << 24) | (std::uint64_t{p[5]} << 16) |
           (std::uint64_t{p[6]} << 8) | std::uint64_t{p[7]};
  }

  // Unconsumed bits, left-aligned. Below the `cached_` valid bits it may
  // hold copies of the bytes that follow, never anything else, so OR-ing
  // those bytes in again is harmless.
  std::uint64_t cache_ = 0;
  unsigned cached_ = 0;  // 0..64; always a multiple of 8 plus bits_left()
  const std::uint8_t* next_ = nullptr;  // first byte not yet in the cache
  const std::uint8_t* end_ = nullptr;
};

}  // namespace kelvor
