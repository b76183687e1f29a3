#pragma once
// What one PMT entry carries: the codec its stream_type names, or for
// private PES packets (stream_type 0x06) the one its descriptors name, and
// the words a report uses for it.
#include <cstdint>
#include <span>

#include "common/codec.h"

namespace kelvor {

// None for a stream_type (or a private stream's descriptors) that names no
// codec the scan knows. `m2ts`: the stream types of 192-byte streams (DTS-HD
// 0x85/0x86, E-AC-3 0x84, PGS 0x90) are read as such; elsewhere they name
// other things (0x86 is splice information in broadcasts).
Codec CodecOfStream(std::uint8_t streamType, std::span<const std::uint8_t> descriptors, bool m2ts);

// "AAC (ADTS)", "DVB subtitles", ...: the codec as a report names it.
const char* CodecName(Codec codec);
// The JSON kind of a codec: "aac_adts", "dvb_subtitle", ...
const char* CodecKind(Codec codec);

// The meaning of an ISO 639 language descriptor's audio_type, or nullptr
// for an undefined (0) or reserved one.
const char* AudioTypeName(std::uint8_t audioType);

}  // namespace kelvor
