#pragma once
// H.264 and HEVC access units as the transport stream carries them (NAL
// units after start codes) and as Matroska stores them (each NAL unit after
// its length in four bytes), and the bits of a parameter set with its
// emulation prevention bytes taken out.
#include <cstddef>
#include <cstdint>
#include <span>

namespace kelvor::mkv {

// Calls `take(nal)` for every NAL unit of an access unit in start-code form,
// in order. A NAL unit ends where the next start code begins; the zero bytes
// before that start code are not part of it. Bytes before the first start
// code are not a NAL unit.
template <typename Take>
void ForEachNalUnit(std::span<const std::uint8_t> unit, Take&& take);

// The first NAL unit's offset and size in `unit` from `from` on; size 0
// when there is none.
struct NalSpan {
  std::size_t offset = 0;
  std::size_t size = 0;
};
NalSpan NextNalUnit(std::span<const std::uint8_t> unit, std::size_t& from);

// Copies `nal` to `out` without its emulation prevention bytes (the 0x03
// after two zero bytes); returns the bytes written, at most out.size().
std::size_t Unescape(std::span<const std::uint8_t> nal, std::span<std::uint8_t> out);

// Which NAL units an access unit keeps in Matroska.
enum class NalSyntax : std::uint8_t { H264, Hevc };

// Writes the access unit `unit` (start-code form) to `out` as length-prefixed
// NAL units, leaving out access unit delimiters and filler data, which
// Matroska's framing replaces. Returns the bytes written, or 0 when `out`
// is too small (nothing useful was written then).
std::size_t ToLengthPrefixed(std::span<const std::uint8_t> unit, std::span<std::uint8_t> out, NalSyntax syntax);

// The NAL unit type of a NAL unit (its first bytes).
inline unsigned H264NalType(std::span<const std::uint8_t> nal) { return nal.empty() ? 0 : nal[0] & 0x1F; }
inline unsigned HevcNalType(std::span<const std::uint8_t> nal) { return nal.empty() ? 0 : (nal[0] >> 1) & 0x3F; }

template <typename Take>
void ForEachNalUnit(std::span<const std::uint8_t> unit, Take&& take) {
  std::size_t from = 0;
  for (;;) {
    const NalSpan nal = NextNalUnit(unit, from);
    if (nal.size == 0 && from >= unit.size()) return;
    if (nal.size != 0) take(unit.subspan(nal.offset, nal.size));
  }
}

}  // namespace kelvor::mkv
