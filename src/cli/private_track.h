#pragma once
// Reading an audio elementary stream out of a transport stream for the
// commands that take either: the packet size of a TS, and the payload of
// the first track whose private-stream PES packets hold syncframes of the
// wanted kind.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kelvor::cli {

// 188 or 192 when the data starts like a transport stream, else 0.
std::size_t TransportPacketSize(std::span<const std::uint8_t> data);

// The elementary stream of the first PID whose private-stream (0xBD) PES
// packets begin with a syncframe for which `wanted(bytes at a sync word)`
// holds; empty when there is none.
std::vector<std::uint8_t> ExtractPrivateTrack(std::span<const std::uint8_t> data, std::size_t packet_size,
                                              const std::function<bool(std::span<const std::uint8_t>)>& wanted);

}  // namespace kelvor::cli
