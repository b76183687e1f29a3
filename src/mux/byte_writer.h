#pragma once
// Appends big-endian fields to a fixed byte range while the multiplexer
// builds its headers. Writes past the end are dropped, never performed.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

namespace kelvor {

class ByteWriter {
 public:
  explicit ByteWriter(std::span<std::uint8_t> out) : out_(out) {}

  void u8(std::uint32_t v) {
    if (pos_ < out_.size()) out_[pos_] = static_cast<std::uint8_t>(v & 0xFF);
    ++pos_;
  }
  void u16(std::uint32_t v) {
    u8(v >> 8);
    u8(v);
  }
  void u32(std::uint32_t v) {
    u16(v >> 16);
    u16(v);
  }
  void bytes(std::initializer_list<std::uint8_t> list) {
    for (std::uint8_t b : list) u8(b);
  }
  void text(std::string_view s) {
    for (char c : s) u8(static_cast<std::uint8_t>(c));
  }
  void fill(std::uint8_t value, std::size_t count) {
    for (std::size_t n = 0; n < count; ++n) u8(value);
  }

  void skip(std::size_t count) { pos_ += count; }

  std::size_t pos() const { return pos_; }
  bool overflowed() const { return pos_ > out_.size(); }

 private:
  std::span<std::uint8_t> out_;
  std::size_t pos_ = 0;
};

}  // namespace kelvor
