#pragma once
// Reading a transport packet header and the PES header at the start of its
// payload, as the conversion pass needs them. All readers stay inside the
// 188 bytes of the packet, whatever the header fields say.
#include <cstdint>

namespace kelvor {

inline constexpr std::uint32_t kTsPacketBytes = 188;
// Bytes from a packet's sync byte to the end of what it stores: 204-byte
// packets keep 16 parity bytes after the 188 (192-byte ones put their 4
// extra bytes before the sync byte).
constexpr std::uint32_t StoredPacketEnd(std::uint32_t packetSize) {
  return packetSize == 204 ? 204 : kTsPacketBytes;
}

struct TsHeader {
  std::uint32_t pid = 0;
  std::uint8_t cc = 0;            // continuity_counter
  bool unitStart = false;         // payload_unit_start_indicator
  std::uint32_t payloadStart = 4; // first payload byte
};

// False when the adaptation field leaves no room for a payload start
// (adaptation_field_length above 182): the packet is ignored.
constexpr bool ReadTsHeader(const std::uint8_t* p, TsHeader& h) {
  h.pid = (static_cast<std::uint32_t>(p[1] & 0x1F) << 8) | p[2];
  h.cc = static_cast<std::uint8_t>(p[3] & 0x0F);
  h.unitStart = (p[1] & 0x40) != 0;
  h.payloadStart = (p[3] & 0x20) != 0 ? 5u + p[4] : 4u;
  return h.payloadStart < kTsPacketBytes;
}

// The low 32 bits of a 33-bit time stamp field; bit 32 is dropped.
constexpr std::uint32_t ReadTimeStamp(const std::uint8_t* b) {
  return (static_cast<std::uint32_t>(b[0] & 0x06) << 29) | (static_cast<std::uint32_t>(b[1]) << 22) |
         (static_cast<std::uint32_t>(b[2] & 0xFE) << 14) | (static_cast<std::uint32_t>(b[3]) << 7) |
         (static_cast<std::uint32_t>(b[4]) >> 1);
}

struct PesStart {
  std::uint8_t streamId = 0;
  bool ptsValid = false;
  std::uint32_t pts = 0;
  bool dtsValid = false;          // read only for the video's decode-time check
  std::uint32_t dts = 0;
  std::uint32_t payloadStart = kTsPacketBytes;  // kTsPacketBytes: empty payload
};

// A payload beginning 00 00 01 in a packet with payload_unit_start_indicator.
constexpr bool IsPesStart(const std::uint8_t* p, const TsHeader& h) {
  const std::uint32_t s = h.payloadStart;
  return h.unitStart && s + 4 <= kTsPacketBytes && p[s] == 0 && p[s + 1] == 0 && p[s + 2] == 1;
}

// Reads the PES header at h.payloadStart. The whole header must lie in this
// packet: one that ends at or beyond its end gives an empty payload, and a
// time stamp field that does not fit is not read.
constexpr PesStart ReadPesStart(const std::uint8_t* p, const TsHeader& h) {
  PesStart pes;
  const std::uint32_t s = h.payloadStart;
  pes.streamId = p[s + 3];
  if (s + 9 > kTsPacketBytes) return pes;
  const std::uint32_t flags = p[s + 7];
  const std::uint32_t end = s + 9 + p[s + 8];
  if ((flags & 0x80) != 0 && s + 14 <= kTsPacketBytes) {
    pes.ptsValid = true;
    pes.pts = ReadTimeStamp(p + s + 9);
    if ((flags & 0xC0) == 0xC0 && s + 19 <= kTsPacketBytes) {
      pes.dtsValid = true;
      pes.dts = ReadTimeStamp(p + s + 14);
    }
  }
  if (end < kTsPacketBytes) pes.payloadStart = end;
  return pes;
}

}  // namespace kelvor
