#pragma once
// Most-significant-bit-first writer of 1..16 bits at a time into a fixed
// buffer. Bits that would pass the end of the buffer are dropped and
// remembered, so a miscount can never write out of bounds.
#include <cstddef>
#include <cstdint>
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

  // put_bits of 0..32 bits without a branch, for runs of codes whose
  // lengths follow no pattern: four bytes are stored at the write position
  // every time (only advanced past when complete), so the caller must leave
  // room() >= 4 before each call.
  void put_bits_unchecked(std::uint32_t value, unsigned n) {
    acc_ = (acc_ << n) | (value & ((std::uint64_t{1} << n) - 1u));
    pending_ += n;
    const unsigned full = pending_ >= 32 ? 1u : 0u;
    const auto word = static_cast<std::uint32_t>(acc_ >> (pending_ - 32 * full));
    out_[bytes_] = static_cast<std::uint8_t>(word >> 24);
    out_[bytes_ + 1] = static_cast<std::uint8_t>(word >> 16);
    out_[bytes_ + 2] = static_cast<std::uint8_t>(word >> 8);
    out_[bytes_ + 3] = static_cast<std::uint8_t>(word);
    bytes_ += 4 * full;
    pending_ -= 32 * full;
  }

  // Bytes from the write position to the end of the buffer.
  std::size_t room() const { return out_.size() - bytes_; }

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
