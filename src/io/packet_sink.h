#pragma once
// Where the multiplexer hands its finished packets. The output writer is the
// real one; tests record the packets instead.
#include <cstddef>
#include <cstdint>
#include <span>

namespace kelvor {

class PacketSink {
 public:
  virtual ~PacketSink() = default;

  // Takes one finished packet. False when the output has failed or is
  // closed: the caller ends the conversion.
  [[nodiscard]] virtual bool AppendPacket(std::span<const std::uint8_t> packet) = 0;

  // Overwrites the first head.size() bytes of the output with `head` (at
  // most kMaxHeadRewrite) when the output is closed: a container whose head
  // states sizes and places known only at the end writes them so. False
  // when the output cannot go back (a pipe); what was appended stays then.
  static constexpr std::size_t kMaxHeadRewrite = 4096;
  virtual bool RewriteHead(std::span<const std::uint8_t> head) {
    (void)head;
    return false;
  }
};

}  // namespace kelvor
