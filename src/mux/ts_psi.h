#pragma once
// Transport stream tables and the PCR packet of TS and M2TS output, and the
// packet templates of the elementary streams. Every function writes one
// 188-byte TS packet (or a first and a following packet for templates)
// starting at the sync byte.
#include <cstdint>
#include <span>

#include "mux/run_settings.h"

namespace kelvor {

inline constexpr std::uint32_t kTsPacketSize = 188;

inline constexpr std::uint16_t kPatPid = 0x0000;
inline constexpr std::uint16_t kPmtPid = 0x0100;
inline constexpr std::uint16_t kPcrPid = 0x1001;
inline constexpr std::uint16_t kVideoPid = 0x1011;
inline constexpr std::uint16_t kFirstAudioPid = 0x1100;

// Program association: program 1 on the PMT PID, plus the network PID.
void BuildPatPacket(std::span<std::uint8_t, kTsPacketSize> packet);

// The program map of the single output program. Returns section_length.
std::uint32_t BuildPmtPacket(std::span<std::uint8_t, kTsPacketSize> packet, const RunSettings& run);

// A packet that carries only a PCR (written when the packet is sent).
void BuildPcrPacket(std::span<std::uint8_t, kTsPacketSize> packet);

// A stream's TS template: the first packet of a PES packet (PES header with
// room for a PTS, 170 payload bytes) followed, `packetSize` bytes later, by
// the following packet (184 payload bytes). `prefix` bytes precede each
// sync byte (M2TS: 4, zero until stamped).
void BuildTsTemplate(std::span<std::uint8_t> tmpl, std::uint32_t prefix, std::uint16_t pid,
                     std::uint8_t streamId);

}  // namespace kelvor
