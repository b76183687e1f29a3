#include "cli/private_track.h"

#include <optional>

namespace kelvor::cli {

namespace {

struct Packet {
  unsigned pid = 0;
  bool unit_start = false;
  std::span<const std::uint8_t> payload;
};

std::optional<Packet> ReadPacket(std::span<const std::uint8_t> p) {
  if (p.size() < 188 || p[0] != 0x47) return std::nullopt;
  Packet packet;
  packet.pid = ((p[1] & 0x1Fu) << 8) | p[2];
  packet.unit_start = (p[1] & 0x40) != 0;
  const unsigned adaptation = (p[3] >> 4) & 3u;
  if ((p[3] >> 6) != 0 || (adaptation & 1u) == 0) return packet;  // scrambled or no payload
  std::size_t offset = 4;
  if (adaptation & 2u) offset += 1 + std::size_t{p[4]};
  if (offset < 188) packet.payload = p.subspan(offset, 188 - offset);
  return packet;
}

// The payload of a private stream 1 PES packet; empty for any other.
std::span<const std::uint8_t> PrivatePayload(std::span<const std::uint8_t> pes) {
  if (pes.size() < 9 || pes[0] != 0 || pes[1] != 0 || pes[2] != 1 || pes[3] != 0xBD) return {};
  const std::size_t start = 9 + std::size_t{pes[8]};
  return start < pes.size() ? pes.subspan(start) : std::span<const std::uint8_t>{};
}

}  // namespace

std::size_t TransportPacketSize(std::span<const std::uint8_t> data) {
  for (const std::size_t size : {std::size_t{188}, std::size_t{192}}) {
    const std::size_t sync = size - 188;
    if (data.size() >= 3 * size && data[sync] == 0x47 && data[sync + size] == 0x47 && data[sync + 2 * size] == 0x47)
      return size;
  }
  return 0;
}

std::vector<std::uint8_t> ExtractPrivateTrack(std::span<const std::uint8_t> data, std::size_t packet_size,
                                              const std::function<bool(std::span<const std::uint8_t>)>& wanted) {
  const std::size_t prefix = packet_size - 188;
  const auto each_packet = [&](auto&& visit) {
    for (std::size_t at = 0; at + packet_size <= data.size(); at += packet_size) {
      if (const auto packet = ReadPacket(data.subspan(at + prefix, 188))) visit(*packet);
    }
  };
  const auto holds_wanted = [&](std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i + 6 <= bytes.size(); ++i) {
      if (bytes[i] == 0x0B && bytes[i + 1] == 0x77 && wanted(bytes.subspan(i))) return true;
    }
    return false;
  };
  std::optional<unsigned> chosen;
  each_packet([&](const Packet& p) {
    if (!chosen && p.unit_start && holds_wanted(PrivatePayload(p.payload))) chosen = p.pid;
  });
  std::vector<std::uint8_t> es;
  if (!chosen) return es;
  bool in_private = false;
  each_packet([&](const Packet& p) {
    if (p.pid != *chosen) return;
    if (p.unit_start) {
      const auto payload = PrivatePayload(p.payload);
      in_private = !payload.empty() || (p.payload.size() >= 4 && p.payload[3] == 0xBD);
      es.insert(es.end(), payload.begin(), payload.end());
    } else if (in_private) {
      es.insert(es.end(), p.payload.begin(), p.payload.end());
    }
  });
  return es;
}

}  // namespace kelvor::cli
