#pragma once
// Where the AC-3 frame assembler sends the frames that do not go out
// unchanged: every frame when the output carries MPEG audio instead of AC-3,
// and E-AC-3 frames, which must be rewritten as AC-3 (AudioPaths, with the
// decoder, the MPEG audio encoder and the transcoder).
#include <cstdint>
#include <span>

namespace kelvor {

struct ConvertedFrame {
  std::uint32_t privateTrack = 0;
  std::span<const std::uint8_t> frame;  // a whole syncframe, header checked
  bool isEac3 = false;
  bool timed = false;                   // the frame has a time stamp (its own or its PES's)
  // Its time minus where the track's input has got to (expectedTime plus
  // pendingTicks); 0 when not timed.
  std::int32_t timingDelta = 0;
};

class AudioConverter {
 public:
  virtual ~AudioConverter() = default;

  // Per-run reset of the decoder, encoder and transcoder state.
  virtual void reset() = 0;

  // One frame of a private track; `expectedTime` is the track's input time
  // (relative to the common start) of its next frame, advanced by what was
  // written. False only when the output refused a packet.
  virtual bool convertFrame(const ConvertedFrame& frame, std::uint32_t& expectedTime) = 0;

  // Input time of private track j taken in but not yet written (audio blocks
  // waiting for a whole output frame).
  virtual std::uint32_t pendingTicks(std::uint32_t) const { return 0; }
};

}  // namespace kelvor
