#include "matroska/ebml_writer.h"

#include <bit>
#include <cstring>

#include "matroska/matroska_ids.h"

namespace kelvor::mkv {

unsigned SizeWidth(std::uint64_t value) {
  unsigned width = 1;
  while (width < 8 && value > MaxSizeInWidth(width)) ++width;
  return width;
}

unsigned IdWidth(std::uint32_t id) {
  if (id > 0xFFFFFF) return 4;
  if (id > 0xFFFF) return 3;
  if (id > 0xFF) return 2;
  return 1;
}

void PutSize(std::uint8_t* out, std::uint64_t value, unsigned width) {
  value |= std::uint64_t{1} << (7 * width);  // the length marker
  for (unsigned i = 0; i < width; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
}

void EbmlWriter::Id(std::uint32_t id) {
  for (unsigned i = IdWidth(id); i > 0; --i) Put(static_cast<std::uint8_t>(id >> (8 * (i - 1))));
}

void EbmlWriter::Size(std::uint64_t value, unsigned width) {
  if (width == 0) width = SizeWidth(value);
  std::uint8_t field[8];
  PutSize(field, value, width);
  for (unsigned i = 0; i < width; ++i) Put(field[i]);
}

void EbmlWriter::Bytes(std::span<const std::uint8_t> data) {
  if (pos_ + data.size() <= out_.size() && !data.empty()) {
    std::memcpy(out_.data() + pos_, data.data(), data.size());
    pos_ += data.size();
    return;
  }
  for (std::uint8_t b : data) Put(b);
}

void EbmlWriter::Uint(std::uint32_t id, std::uint64_t value, unsigned width) {
  if (width == 0) {
    width = 1;
    while (width < 8 && (value >> (8 * width)) != 0) ++width;
  }
  Id(id);
  Size(width);
  for (unsigned i = width; i > 0; --i) Put(static_cast<std::uint8_t>(value >> (8 * (i - 1))));
}

void EbmlWriter::Float(std::uint32_t id, double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  Id(id);
  Size(8);
  for (unsigned i = 8; i > 0; --i) Put(static_cast<std::uint8_t>(bits >> (8 * (i - 1))));
}

void EbmlWriter::String(std::uint32_t id, std::string_view text) {
  Id(id);
  Size(text.size());
  Bytes({reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

void EbmlWriter::Binary(std::uint32_t id, std::span<const std::uint8_t> data) {
  Id(id);
  Size(data.size());
  Bytes(data);
}

void EbmlWriter::Void(std::size_t total) {
  if (total < 2) {
    pos_ += total;  // no element is this short; the caller's layout is wrong
    return;
  }
  // The narrowest size field that leaves a payload it can state.
  unsigned width = 1;
  while (width < 8 && total - 1 - width > MaxSizeInWidth(width)) ++width;
  const std::size_t payload = total - 1 - width;
  Id(id::kVoid);
  Size(payload, width);
  for (std::size_t i = 0; i < payload; ++i) Put(0);
}

std::size_t EbmlWriter::OpenMaster(std::uint32_t id, unsigned width) {
  Id(id);
  const std::size_t mark = pos_;
  pos_ += width;
  return mark;
}

void EbmlWriter::CloseMaster(std::size_t mark, unsigned width) {
  if (mark + width > out_.size()) return;
  PutSize(out_.data() + mark, pos_ - mark - width, width);
}

}  // namespace kelvor::mkv
