#include "mpegenc/simd_level.h"

#include <algorithm>

namespace kelvor::mpegenc {
namespace {

SimdLevel Detect() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512cd") && __builtin_cpu_supports("avx512dq")) {
    return SimdLevel::kAvx512;
  }
  if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
#endif
  return SimdLevel::kPlain;
}

}  // namespace

SimdLevel UsableSimd(SimdLevel wanted) {
  static const SimdLevel best = Detect();
  return std::min(wanted, best);
}

}  // namespace kelvor::mpegenc
