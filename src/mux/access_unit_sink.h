#pragma once
// A container that takes whole access units instead of packets. When the
// run writes such a format, the multiplexer hands each audio frame over at
// its output time and the video's bytes as its handlers end them, and
// builds no packets of its own.
#include <cstdint>
#include <span>

namespace kelvor {

class AccessUnitSink {
 public:
  virtual ~AccessUnitSink() = default;

  // The run's tracks are known: the container lays out its head.
  virtual void Start() = 0;
  // One audio frame of output slot `slot`, shown at `time`.
  [[nodiscard]] virtual bool AudioFrame(std::uint32_t slot, std::uint32_t time,
                                        std::span<const std::uint8_t> frame) = 0;
  // The time of the video unit being written (it may follow its first bytes).
  [[nodiscard]] virtual bool VideoTime(std::uint32_t pts) = 0;
  [[nodiscard]] virtual bool VideoBytes(std::span<const std::uint8_t> data) = 0;
  // The video handler ended a PES packet: a unit ends here.
  [[nodiscard]] virtual bool EndVideoUnit() = 0;
  // End of the run: what is pending, then the index and the head.
  [[nodiscard]] virtual bool Finish() = 0;
};

}  // namespace kelvor
