#pragma once
// Reads what an audio stream the conversion does not carry holds, for the
// scan's report: AAC (ADTS or LATM) with its profile, rate and channels,
// DTS with its rate and channels (and whether DTS-HD extensions follow),
// TrueHD with its rate. Fed the PES payloads one after another; each call
// looks at the bytes given only, as a PES of these streams starts a frame.
#include <cstdint>
#include <span>
#include <string>

#include "common/codec.h"

namespace kelvor {

struct AudioFormat {
  bool found = false;
  std::uint32_t objectType = 0;  // AAC audio object type (2 LC, 5 HE, 29 HE v2)
  std::uint32_t sampleRate = 0;  // the output rate (for HE-AAC: after SBR)
  std::uint32_t channels = 0;    // full-band channels (AAC: of its configuration)
  bool lfe = false;
  bool extensions = false;       // DTS-HD substreams after the core
};

// Reads `payload` as `codec` (AacAdts, AacLatm, Dts or TrueHd); true once
// the format is known. Never reads past the span.
bool ProbeAudioFormat(Codec codec, std::span<const std::uint8_t> payload, AudioFormat& format);

// "HE-AAC 48 kHz 2 ch", "DTS 48 kHz 5.1 +HD", "TrueHD 48 kHz".
std::string DescribeAudioFormat(Codec codec, const AudioFormat& format);

}  // namespace kelvor
