#include "ac3dec/ac3_math.h"

#include <limits>

namespace kelvor {

unsigned floor_log2(std::uint32_t x) {
  unsigned n = 0;
  while (x >= 256) {
    x >>= 8;
    n += 8;
  }
  while (x > 1) {
    x >>= 1;
    ++n;
  }
  return n;
}

Q24 sqrt_q24(Q24 a) {
  if (a <= 0) return 0;
  const std::int64_t dividend = static_cast<std::int64_t>(a) << 24;
  std::int32_t y = a;
  std::int32_t previous = a;
  for (;;) {
    // Newton's step; y never reaches 0 because the first step lands above
    // the root and every later one stays there.
    const std::int32_t q = saturate_i32(dividend / y);
    const std::int32_t next = add_sat_q24(y, q) >> 1;
    if (next == y || next == previous) return next;
    previous = y;
    y = next;
  }
}

std::uint32_t isqrt64(std::int64_t x) {
  if (x <= 0) return 0;
  // Unsigned arithmetic: x / y + y reaches 2^63 on the first step for the
  // largest inputs.
  const auto ux = static_cast<std::uint64_t>(x);
  std::uint64_t y = ux;
  std::uint64_t previous = ux;
  for (;;) {
    const std::uint64_t next = (ux / y + y) >> 1;
    if (next == y || next == previous) return static_cast<std::uint32_t>(next);
    previous = y;
    y = next;
  }
}

namespace {

// kFixed: the group size as a constant, so that each exponent's copies are
// written without a loop; 0 takes it from grpsize.
template <unsigned kFixed>
bool ungroup(std::int32_t absexp, std::span<std::int32_t> out, unsigned grpsize,
             std::span<const std::uint8_t> groups) {
  const unsigned size = kFixed != 0 ? kFixed : grpsize;
  std::int32_t e = absexp;
  std::size_t pos = 0;
  const auto write = [&](std::int32_t value) {
    if (pos + size > out.size()) return false;
    for (unsigned i = 0; i < size; ++i) out[pos++] = value;
    return true;
  };
  for (const std::uint8_t v : groups) {
    if (v > 124) return false;
    e += v / 25 - 2;
    if (!write(e)) return false;
    e += (v % 25) / 5 - 2;
    if (!write(e)) return false;
    e += v % 5 - 2;
    if (!write(e)) return false;
  }
  return true;
}

}  // namespace

bool ungroup_exponents(std::int32_t absexp, std::span<std::int32_t> out, unsigned grpsize,
                       std::span<const std::uint8_t> groups) {
  switch (grpsize) {
    case 1:
      return ungroup<1>(absexp, out, grpsize, groups);
    case 2:
      return ungroup<2>(absexp, out, grpsize, groups);
    case 4:
      return ungroup<4>(absexp, out, grpsize, groups);
    default:
      return ungroup<0>(absexp, out, grpsize, groups);
  }
}

}  // namespace kelvor
