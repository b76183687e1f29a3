#include "convert/frame_rate_probe.h"

#include <array>

#include "common/ts_packet.h"
#include "convert/stream_timing.h"
#include "io/input_view.h"

namespace kelvor {

double ProbeFramesPerSecond(InputView& input, std::uint32_t videoPid, std::uint64_t maxBytes) {
  if (!input.open()) return 0;
  // Steps of up to a tenth of a second, counted by tick.
  constexpr std::uint32_t kMaxStep = 9000;
  std::array<std::uint16_t, kMaxStep + 1> counts{};
  bool have = false;
  std::uint32_t last = 0;
  std::uint32_t size = 0;
  while (input.position() < maxBytes && !input.endOfInput()) {
    if (size == 0 || !input.isSyncByteAt(0)) {
      size = input.packetSizeHere();
      if (size == 0) {
        if (!input.advance(1)) break;
        continue;
      }
    }
    const std::uint8_t* p = input.readPtr();
    TsHeader h;
    if (ReadTsHeader(p, h) && h.pid == videoPid && h.unitStart && IsPesStart(p, h)) {
      const PesStart pes = ReadPesStart(p, h);
      if (pes.ptsValid) {
        const std::uint32_t t = pes.dtsValid ? pes.dts : pes.pts;
        const std::int32_t step = TimeDifference(t, last);
        if (have && step > 0 && static_cast<std::uint32_t>(step) <= kMaxStep &&
            counts[static_cast<std::uint32_t>(step)] < 0xFFFF) {
          ++counts[static_cast<std::uint32_t>(step)];
        }
        last = t;
        have = true;
      }
    }
    if (!input.advance(size)) break;
  }
  input.close();
  std::uint32_t best = 0;
  for (std::uint32_t s = 1; s <= kMaxStep; ++s) {
    if (counts[s] > counts[best]) best = s;
  }
  return best == 0 ? 0 : 90000.0 / best;
}

}  // namespace kelvor
