#include "matroska/mpeg2_sequence.h"

#include "matroska/video_tables.h"

namespace kelvor::mkv {

namespace {

// The offset of the byte after 00 00 01 `code` at or after `from`, or 0.
std::size_t After(std::span<const std::uint8_t> unit, std::uint8_t code, std::size_t from) {
  for (std::size_t i = from; i + 4 <= unit.size(); ++i) {
    if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1 && unit[i + 3] == code) return i + 4;
  }
  return 0;
}

// The offset of the next start code at or after `from`, or unit.size().
std::size_t NextStartCode(std::span<const std::uint8_t> unit, std::size_t from) {
  for (std::size_t i = from; i + 3 <= unit.size(); ++i) {
    if (unit[i] == 0 && unit[i + 1] == 0 && unit[i + 2] == 1) return i;
  }
  return unit.size();
}

}  // namespace

std::span<const std::uint8_t> Mpeg2SequenceBytes(std::span<const std::uint8_t> unit) {
  const std::size_t after = After(unit, 0xB3, 0);
  if (after == 0) return {};
  const std::size_t start = after - 4;
  std::size_t end = NextStartCode(unit, after);
  if (end + 4 < unit.size() && unit[end + 3] == 0xB5 && (unit[end + 4] >> 4) == 1) {
    end = NextStartCode(unit, end + 4);
  }
  return unit.subspan(start, end - start);
}

std::optional<VideoFormat> ReadMpeg2Sequence(std::span<const std::uint8_t> unit) {
  const std::size_t at = After(unit, 0xB3, 0);
  if (at == 0 || at + 4 > unit.size()) return std::nullopt;
  const std::uint8_t* p = unit.data() + at;
  VideoFormat f;
  f.width = (static_cast<std::uint32_t>(p[0]) << 4) | (p[1] >> 4);
  f.height = (static_cast<std::uint32_t>(p[1] & 0x0F) << 8) | p[2];
  if (f.width == 0 || f.height == 0) return std::nullopt;
  const unsigned aspect = p[3] >> 4;
  const unsigned rate = p[3] & 0x0F;
  if (aspect == 1 || aspect >= kMpeg2DisplayAspect.size()) {
    ApplyAspect(f, 1, 1);
  } else {
    ApplyAspect(f, 0, 0, kMpeg2DisplayAspect[aspect].num, kMpeg2DisplayAspect[aspect].den);
  }
  if (rate > 0 && rate < kMpeg2FrameRates.size()) {
    const Ratio r = kMpeg2FrameRates[rate];
    f.frameDurationNs = (std::uint64_t{1000000000} * r.den + r.num / 2) / r.num;
  }
  // The sequence extension (extension id 1) follows the header; without it
  // the stream is MPEG-1, which is progressive.
  for (std::size_t from = at; (from = After(unit, 0xB5, from)) != 0;) {
    if (from < unit.size() && (unit[from] >> 4) == 1) {
      if (from + 2 > unit.size()) break;
      f.interlaced = (unit[from + 1] & 0x08) == 0;  // progressive_sequence
      f.interlaceKnown = true;
      break;
    }
  }
  if (!f.interlaceKnown && After(unit, 0xB5, at) == 0) {
    f.interlaced = false;
    f.interlaceKnown = true;
  }
  return f;
}

}  // namespace kelvor::mkv
