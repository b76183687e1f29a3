#pragma once
// The navigation pack that opens every video object unit (one group of
// pictures) of DVD output: pack header, system header with the DVD buffer
// bounds, and the two private stream 2 packets (presentation control and
// data search information). Their contents are left zero: DVD authoring
// tools fill them once the title's layout is known; what they need from us
// is a pack of the right structure at the right place.
#include <cstdint>
#include <span>

#include "mux/program_stream_headers.h"

namespace kelvor {

inline constexpr std::uint8_t kPrivateStream2Id = 0xBF;
inline constexpr std::uint32_t kNavSystemHeaderOffset = kPackHeaderSize;
inline constexpr std::uint32_t kNavPciOffset = kPackHeaderSize + 24;
inline constexpr std::uint32_t kNavPciLength = 980;   // PES_packet_length
inline constexpr std::uint32_t kNavDsiOffset = kNavPciOffset + 6 + kNavPciLength;
inline constexpr std::uint32_t kNavDsiLength = 1018;  // PES_packet_length

// Fills the 2048-byte navigation pack (SCR zero) for `audioStreams` audio
// streams.
void BuildDvdNavPack(std::span<std::uint8_t, kPackSize> pack, std::uint32_t audioStreams);

}  // namespace kelvor
