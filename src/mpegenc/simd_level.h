#pragma once
// Which vector code the encoder runs. Every vector path gives exactly the
// plain path's numbers; tests ask for each level to check that.
#include <cstdint>

namespace kelvor::mpegenc {

enum class SimdLevel : std::uint8_t { kPlain, kAvx2, kAvx512 };

// The widest level this processor runs, but at most `wanted` (AVX-512 here
// means the F, CD and DQ parts).
SimdLevel UsableSimd(SimdLevel wanted = SimdLevel::kAvx512);

}  // namespace kelvor::mpegenc
