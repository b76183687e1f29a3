#pragma once
// Where the multiplexer hands its finished packets. The output writer is the
// real one; tests record the packets instead.
#include <cstdint>
#include <span>

namespace kelvor {

class PacketSink {
 public:
  virtual ~PacketSink() = default;

  // Takes one finished packet. False when the output has failed or is
  // closed: the caller ends the conversion.
  virtual bool AppendPacket(std::span<const std::uint8_t> packet) = 0;
};

}  // namespace kelvor
