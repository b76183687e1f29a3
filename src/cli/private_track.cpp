#include "cli/private_track.h"

#include <algorithm>
#include <optional>

#include "ac3dec/syncframe.h"
#include "common/ts_packet.h"

namespace kelvor::cli {

namespace {

struct Packet {
  unsigned pid = 0;
  bool unit_start = false;
  std::span<const std::uint8_t> payload;
  std::span<const std::uint8_t> private_data;  // after the header of a private stream 1 PES packet starting here
};

// `p`: the 188 bytes of a packet.
Packet ReadPacket(const std::uint8_t* p) {
  TsHeader h;
  const bool payload_fits = ReadTsHeader(p, h);
  Packet packet{h.pid, h.unitStart, {}, {}};
  const bool scrambled = (p[3] & 0xC0) != 0;
  const bool has_payload = (p[3] & 0x10) != 0;
  if (scrambled || !has_payload || !payload_fits) return packet;
  packet.payload = {p + h.payloadStart, kTsPacketBytes - h.payloadStart};
  if (IsPesStart(p, h)) {
    const PesStart pes = ReadPesStart(p, h);
    if (pes.streamId == 0xBD) packet.private_data = {p + pes.payloadStart, kTsPacketBytes - pes.payloadStart};
  }
  return packet;
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
      visit(ReadPacket(data.data() + at));
      at += sync.packetSize;
    }
  };
  const auto holds_wanted = [&](std::span<const std::uint8_t> bytes) {
    for (std::size_t i = find_sync_word(bytes); i + 6 <= bytes.size(); i = find_sync_word(bytes, i + 1)) {
      if (wanted(bytes.subspan(i))) return true;
    }
    return false;
  };
  std::optional<unsigned> chosen;
  each_packet([&](const Packet& p) {
    if (!chosen && p.unit_start && holds_wanted(p.private_data)) chosen = p.pid;
  });
  std::vector<std::uint8_t> es;
  if (!chosen) return es;
  bool in_private = false;
  each_packet([&](const Packet& p) {
    if (p.pid != *chosen) return;
    if (p.unit_start) {
      in_private = !p.private_data.empty() || (p.payload.size() >= 4 && p.payload[3] == 0xBD);
      es.insert(es.end(), p.private_data.begin(), p.private_data.end());
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
