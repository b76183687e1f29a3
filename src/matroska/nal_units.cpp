#include "matroska/nal_units.h"

#include <cstring>

namespace kelvor::mkv {

namespace {

// The offset of the next 00 00 01 at or after `from`, or unit.size().
std::size_t FindStartCode(std::span<const std::uint8_t> unit, std::size_t from) {
  const std::uint8_t* p = unit.data();
  const std::size_t n = unit.size();
  while (from + 3 <= n) {
    const void* one = std::memchr(p + from + 2, 0x01, n - from - 2);
    if (one == nullptr) return n;
    const std::size_t at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(one) - p);
    if (p[at - 1] == 0 && p[at - 2] == 0) return at - 2;
    from = at - 1;
  }
  return n;
}

}  // namespace

NalSpan NextNalUnit(std::span<const std::uint8_t> unit, std::size_t& from) {
  const std::size_t start = FindStartCode(unit, from);
  if (start >= unit.size()) {
    from = unit.size();
    return {};
  }
  const std::size_t begin = start + 3;
  std::size_t end = FindStartCode(unit, begin);
  from = end;
  // The zero bytes before the next start code (its leading zero byte and
  // any trailing zeros) belong to no NAL unit.
  while (end > begin && unit[end - 1] == 0) --end;
  return {begin, end - begin};
}

std::size_t Unescape(std::span<const std::uint8_t> nal, std::span<std::uint8_t> out) {
  std::size_t n = 0;
  unsigned zeros = 0;
  for (const std::uint8_t b : nal) {
    if (zeros >= 2 && b == 0x03) {
      zeros = 0;
      continue;
    }
    if (n == out.size()) break;
    out[n++] = b;
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return n;
}

std::size_t ToLengthPrefixed(std::span<const std::uint8_t> unit, std::span<std::uint8_t> out, NalSyntax syntax) {
  std::size_t n = 0;
  bool fits = true;
  ForEachNalUnit(unit, [&](std::span<const std::uint8_t> nal) {
    if (syntax == NalSyntax::H264) {
      const unsigned type = H264NalType(nal);
      if (type == 9 || type == 12) return;  // access unit delimiter, filler data
    } else {
      const unsigned type = HevcNalType(nal);
      if (type == 35 || type == 38) return;
    }
    if (!fits || n + 4 + nal.size() > out.size()) {
      fits = false;
      return;
    }
    const auto size = static_cast<std::uint32_t>(nal.size());
    out[n] = static_cast<std::uint8_t>(size >> 24);
    out[n + 1] = static_cast<std::uint8_t>(size >> 16);
    out[n + 2] = static_cast<std::uint8_t>(size >> 8);
    out[n + 3] = static_cast<std::uint8_t>(size);
    std::memcpy(out.data() + n + 4, nal.data(), nal.size());
    n += 4 + nal.size();
  });
  return fits ? n : 0;
}

}  // namespace kelvor::mkv
