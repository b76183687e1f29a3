#include "cli/private_track.h"

#include <algorithm>
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

bool SyncRunAt(std::span<const std::uint8_t> data, std::size_t at, std::size_t size) {
  for (std::size_t k = 0; k < 4; ++k) {
    if (at + k * size >= data.size() || data[at + k * size] != 0x47) return false;
  }
  return true;
}

}  // namespace

TransportSync FindTransportSync(std::span<const std::uint8_t> data, std::size_t searchLimit) {
  const std::size_t end = std::min(data.size(), searchLimit);
  for (std::size_t at = 0; at < end; ++at) {
    if (data[at] != 0x47) continue;
    for (const std::size_t size : {std::size_t{188}, std::size_t{192}}) {
      if (SyncRunAt(data, at, size)) return {at, size};
    }
  }
  return {};
}

std::vector<std::uint8_t> ExtractPrivateTrack(std::span<const std::uint8_t> data, TransportSync sync,
                                              const WantedFrame& wanted) {
  // Every packet in order, found again by the sync search after junk.
  const auto each_packet = [&](auto&& visit) {
    std::size_t at = sync.first;
    while (at + 188 <= data.size()) {
      if (data[at] != 0x47) {
        const TransportSync again = FindTransportSync(data.subspan(at), data.size());
        if (again.packetSize != sync.packetSize) return;
        at += again.first;
        continue;
      }
      if (const auto packet = ReadPacket(data.subspan(at, 188))) visit(*packet);
      at += sync.packetSize;
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

std::span<const std::uint8_t> ElementaryStreamOf(std::span<const std::uint8_t> data,
                                                 std::vector<std::uint8_t>& storage, const WantedFrame& wanted) {
  const TransportSync sync = FindTransportSync(data);
  if (sync.packetSize == 0) return data;
  storage = ExtractPrivateTrack(data, sync, wanted);
  return storage;
}

}  // namespace kelvor::cli
