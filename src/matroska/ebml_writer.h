#pragma once
// Writes EBML elements one after another into a fixed byte range: the
// buffer is the caller's, nothing is allocated. A master element's size is
// reserved when it opens and filled in when it closes, since by then its
// contents lie behind it in the same range. Writes past the end are
// dropped and counted, so that a caller can measure a layout by writing it
// into an empty range.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace kelvor::mkv {

// The largest value a size field of `width` bytes holds (all value bits set
// means "unknown", so one less).
constexpr std::uint64_t MaxSizeInWidth(unsigned width) { return (std::uint64_t{1} << (7 * width)) - 2; }

// The fewest bytes (1..8) a size field needs for `value`.
unsigned SizeWidth(std::uint64_t value);

// Bytes of an element id: the length marker is part of the id.
unsigned IdWidth(std::uint32_t id);

// Writes `value` as a size field of `width` bytes at `out`.
void PutSize(std::uint8_t* out, std::uint64_t value, unsigned width);

class EbmlWriter {
 public:
  explicit EbmlWriter(std::span<std::uint8_t> out) : out_(out) {}

  void Id(std::uint32_t id);
  // A size field; `width` 0 takes the fewest bytes.
  void Size(std::uint64_t value, unsigned width = 0);
  void Bytes(std::span<const std::uint8_t> data);

  // Whole elements: id, size, value. Unsigned integers take the fewest
  // bytes unless `width` says otherwise (a field to be rewritten keeps its
  // room); floats take eight.
  void Uint(std::uint32_t id, std::uint64_t value, unsigned width = 0);
  void Float(std::uint32_t id, double value);
  void String(std::uint32_t id, std::string_view text);
  void Binary(std::uint32_t id, std::span<const std::uint8_t> data);
  // A Void element exactly `total` bytes long (at least 2).
  void Void(std::size_t total);

  // Opens a master element with a size field of `width` bytes; returns the
  // mark that CloseMaster takes.
  std::size_t OpenMaster(std::uint32_t id, unsigned width = 4);
  void CloseMaster(std::size_t mark, unsigned width = 4);

  std::size_t pos() const { return pos_; }
  bool overflowed() const { return pos_ > out_.size(); }
  std::span<const std::uint8_t> written() const { return out_.first(pos_ < out_.size() ? pos_ : out_.size()); }
  std::uint8_t* at(std::size_t offset) { return out_.data() + offset; }
  // Starts again at `offset` (a rewind over bytes already written).
  void Rewind(std::size_t offset) { pos_ = offset; }

 private:
  void Put(std::uint8_t b) {
    if (pos_ < out_.size()) out_[pos_] = b;
    ++pos_;
  }

  std::span<std::uint8_t> out_;
  std::size_t pos_ = 0;
};

}  // namespace kelvor::mkv
