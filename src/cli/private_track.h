#pragma once
// Reading an audio elementary stream out of a transport stream for the
// commands that take either: where the packets start (the same sync search
// as the scan: four sync bytes in a row, 188 or 192 bytes apart, anywhere
// near the start), and the payload of the first track whose private-stream
// PES packets hold syncframes of the wanted kind.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kelvor::cli {

struct TransportSync {
  std::size_t first = 0;       // offset of the first sync byte
  std::size_t packetSize = 0;  // 188 or 192; 0: not a transport stream
};

// Looks for the packets within the first `searchLimit` bytes.
TransportSync FindTransportSync(std::span<const std::uint8_t> data, std::size_t searchLimit = 1u << 20);

using WantedFrame = std::function<bool(std::span<const std::uint8_t>)>;

// The elementary stream of the first PID whose private-stream (0xBD) PES
// packets begin with a syncframe for which `wanted(bytes at a sync word)`
// holds; empty when there is none. Sync is searched again after junk.
std::vector<std::uint8_t> ExtractPrivateTrack(std::span<const std::uint8_t> data, TransportSync sync,
                                              const WantedFrame& wanted);

// What a command decodes: `data` itself, or, when it is a transport stream,
// its first private track of wanted frames (kept in `storage`).
std::span<const std::uint8_t> ElementaryStreamOf(std::span<const std::uint8_t> data,
                                                 std::vector<std::uint8_t>& storage, const WantedFrame& wanted);

}  // namespace kelvor::cli
