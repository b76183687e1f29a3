#pragma once
// Most-significant-bit-first writer of 1..16 bits at a time into a fixed
// buffer. Bits that would pass the end of the buffer are dropped and
// remembered, so a miscount can never write out of bounds.
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace kelvor::transcode {

class BitWriter {
 public:
  explicit BitWriter(std::span<std::uint8_t> out) : out_(out) {}

  void put_bits(std::uint32_t value, unsigned n) {
    acc_ = (acc_ << n) | (value & ((1u << n) - 1u));
    pending_ += n;
    if (pending_ >= 32) {  // four bytes at a time; at most 47 bits are pending
      pending_ -= 32;
      const auto word = static_cast<std::uint32_t>(acc_ >> pending_);
      if (bytes_ + 4 <= out_.size()) {
        out_[bytes_] = static_cast<std::uint8_t>(word >> 24);
        out_[bytes_ + 1] = static_cast<std::uint8_t>(word >> 16);
        out_[bytes_ + 2] = static_cast<std::uint8_t>(word >> 8);
        out_[bytes_ + 3] = static_cast<std::uint8_t>(word);
        bytes_ += 4;
      } else {
        for (int shift = 24; shift >= 0; shift -= 8) store(static_cast<std::uint8_t>(word >> shift));
      }
    }
  }

  // Codes of 0..16 bits (each value below 2 to the power of its width),
  // three at a time and without a branch per code: after each step the
  // whole bytes go out in one eight-byte store and fewer than 8 bits stay
  // pending. The caller must check has_room_for(the codes' total width).
  [[gnu::always_inline]] void put_codes_unchecked(const std::uint16_t* values, const std::uint8_t* widths,
                                                  std::size_t n) {
    std::uint64_t acc = acc_;
    unsigned pending = pending_;
    std::uint8_t* at = out_.data() + bytes_;
    const auto settle = [&] {
      store_high_first((acc << (63 - pending)) << 1, at);
      at += pending >> 3;
      pending &= 7;
    };
    settle();
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
      const unsigned w1 = widths[i + 1];
      const unsigned w2 = widths[i + 2];
      const std::uint64_t v = (((std::uint64_t{values[i]} << w1) | values[i + 1]) << w2) | values[i + 2];
      const unsigned w = widths[i] + w1 + w2;
      acc = (acc << w) | v;
      pending += w;
      settle();
    }
    for (; i < n; ++i) {
      acc = (acc << widths[i]) | values[i];
      pending += widths[i];
    }
    settle();
    acc_ = acc;
    pending_ = pending;
    bytes_ = static_cast<std::size_t>(at - out_.data());
  }

  // Bytes from the write position to the end of the buffer.
  std::size_t room() const { return out_.size() - bytes_; }

  // Whether put_codes_unchecked may write `bits` bits: with fewer than 32
  // pending, whole bytes advance at most (bits + 31) / 8, and the last
  // eight-byte store starts there.
  bool has_room_for(std::size_t bits) const { return room() >= (bits + 31) / 8 + 8; }

  // Stores the pending bits, the last byte padded with zeros.
  void flush() {
    while (pending_ >= 8) {
      pending_ -= 8;
      store(static_cast<std::uint8_t>(acc_ >> pending_));
    }
    if (pending_ > 0) store(static_cast<std::uint8_t>(acc_ << (8 - pending_)));
    pending_ = 0;
  }

  std::size_t bits_written() const { return bytes_ * 8 + pending_; }
  std::size_t bytes_written() const { return bytes_; }
  bool overflowed() const { return overflowed_; }

 private:
  static void store_high_first(std::uint64_t v, std::uint8_t* at) {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(at, &v, sizeof v);
  }

  void store(std::uint8_t byte) {
    if (bytes_ < out_.size()) {
      out_[bytes_++] = byte;
    } else {
      overflowed_ = true;
    }
  }

  std::span<std::uint8_t> out_;
  std::uint64_t acc_ = 0;
  unsigned pending_ = 0;
  std::size_t bytes_ = 0;
  bool overflowed_ = false;
};

}  // namespace kelvor::transcode
