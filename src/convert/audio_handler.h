#pragma once
// What the conversion driver asks of the handler of one kind of audio
// track: whole frames cut from each track's PES payloads and kept in time.
// A track is the handler's slot; the driver's PID routes name the slot of
// each track (pid_routes.h). A new audio kind is one more handler.
#include <cstdint>
#include <span>

#include "convert/pes_stamp.h"

namespace kelvor {

class AudioHandler {
 public:
  virtual ~AudioHandler() = default;

  // Start of a run: every track hunts for a sync word.
  virtual void Reset() = 0;
  // Late frames wait for the video's next time stamp (set for runs with video).
  virtual void FollowVideo(bool on) = 0;
  // The first piece of a PES packet of track `slot`, with the packet's
  // stamp. False only when the output refused a packet.
  [[nodiscard]] virtual bool StartPes(std::span<const std::uint8_t> payload, std::uint32_t slot,
                                      const PesStamp& stamp) = 0;
  // A later piece of the same PES packet.
  [[nodiscard]] virtual bool ContinuePes(std::span<const std::uint8_t> payload, std::uint32_t slot) = 0;
  // The video has placed a time stamp (or the run ends): the frames kept
  // back go out. False only when the output refused a packet.
  [[nodiscard]] virtual bool ReleaseHeld() = 0;
};

}  // namespace kelvor
