#pragma once
// Program stream material: the mux rate, the header pack re-sent every
// 100 ms (pack header, system header, program stream map, padding) and the
// one-pack template of each elementary stream.
#include <cstdint>
#include <span>

#include "mux/run_settings.h"

namespace kelvor {

inline constexpr std::uint32_t kPackSize = 2048;
inline constexpr std::uint32_t kPackHeaderSize = 14;
inline constexpr std::uint32_t kMaxMuxRate = (1u << 22) - 1;
// PES_packet_length of a full stream pack: 2048 - 14 (pack header) - 6.
inline constexpr std::uint32_t kFullPesLength = 2028;

// Mux rate in units of 50 bytes/s for `ac3Streams` AC-3 streams at 640 kbit/s,
// `mpegStreams` MPEG audio streams at 384 kbit/s and video at `videoBitRate`
// (units of 400 bit/s), scaled by pack size over pack payload. Limited to
// the 22 bits the fields hold.
std::uint32_t ProgramStreamMuxRate(std::uint32_t ac3Streams, std::uint32_t videoBitRate,
                                   std::uint32_t mpegStreams);

// The 14-byte pack header with a zero SCR.
void WritePackHeader(std::span<std::uint8_t> pack, std::uint32_t muxRate);

// Fills the 2048-byte header pack. Returns the offset of the program
// stream map.
std::uint32_t BuildProgramStreamHeaderPack(std::span<std::uint8_t, kPackSize> pack, const RunSettings& run);

// A stream's pack: pack header, PES header with room for a PTS, and for
// AC-3 (subStreamId >= 0) the 4-byte sub-stream header.
void BuildProgramStreamTemplate(std::span<std::uint8_t, kPackSize> pack, std::uint32_t muxRate,
                                std::uint8_t streamId, int subStreamId);

}  // namespace kelvor
