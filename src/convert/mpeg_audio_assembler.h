#pragma once
// Cuts the MPEG audio tracks' PES payloads into whole frames and keeps each
// track in time with the output: a frame that comes more than half a frame
// early is dropped, one that comes half a frame late or more follows one
// repeat of the frame before it per missing frame. Frames are copied
// unchanged; their length and duration come from the layer, bit rate,
// sampling rate and padding bit of each header. While the video is followed, a late frame and those after it wait
// until the video's next time stamp shows whether the picture lost the same
// time (HeldFrames).
#include <array>
#include <cstdint>
#include <span>

#include "convert/audio_handler.h"
#include "convert/held_frames.h"
#include "convert/mpeg_audio_frame_sizes.h"
#include "convert/pes_stamp.h"
#include "mux/multiplexer.h"
#include "convert/stream_timing.h"
#include "scan/track_table.h"

namespace kelvor {

class MpegAudioAssembler final : public AudioHandler {
 public:
  MpegAudioAssembler(StreamTiming& timing, Multiplexer& mux) : timing_(timing), mux_(mux) {}

  // Start of a run: every track hunts for a sync byte.
  void Reset() override;

  // Track i is audio track i of the run (the MPEG audio tracks come first).
  [[nodiscard]] bool StartPes(std::span<const std::uint8_t> payload, std::uint32_t i, const PesStamp& stamp) override;
  [[nodiscard]] bool ContinuePes(std::span<const std::uint8_t> payload, std::uint32_t i) override;

  // Track i carries Layer I (as the scan found): its header's second byte
  // may be 0xFF (no CRC), which is then not taken for a new sync byte.
  void SetLayer(std::uint32_t i, std::uint32_t layer) {
    if (i < tracks_.size()) tracks_[i].layer1 = layer == 1;
  }

  // Late frames wait for the video's next time stamp (set for runs with video).
  void FollowVideo(bool on) override { followVideo_ = on; }
  // The video has placed a time stamp (or the run ends): the frames kept
  // back go out. False only when the output refused a packet.
  [[nodiscard]] bool ReleaseHeld() override;

 private:
  enum class Phase : std::uint8_t { Hunt, Sync, Header, Body };
  struct Track {
    Phase phase = Phase::Hunt;
    bool layer1 = false;
    std::array<std::uint8_t, kMaxMpegAudioFrameBytes> frame{};
    std::uint32_t frameLength = 0;
    std::uint32_t toCollect = 0;
    std::uint32_t framePts = 0;
    bool framePtsValid = false;
    bool frameTimed = false;  // the frame being collected has a time (framePts)
    // A frame without a time stamp follows the one before it in its PES.
    bool chained = false;
    // Frames chained since the last time stamp, timed from it exactly.
    std::uint32_t chainBase = 0;
    std::uint32_t chainFrames = 0;
    FrameDuration duration;  // of the frame being collected
    FrameTickCarry outTicks;  // the output time of the frames written
    // The frame written last, which fills a gap before a late frame.
    std::array<std::uint8_t, kMaxMpegAudioFrameBytes> last{};
    std::uint32_t lastLength = 0;
    HeldFrames held{kMaxMpegAudioFrameBytes};
    StampSlot stamp;  // of the PES packet being read
  };

  void takePts(Track& t, std::uint32_t i);
  void startBody(Track& t, std::uint32_t i, std::uint8_t headerByte2);
  bool dispatch(Track& t, std::uint32_t i);
  // The frame's time minus the track's output time (positive = late).
  std::int32_t delayOf(std::uint32_t pts, bool timed, std::uint32_t i) const;
  bool place(Track& t, std::uint32_t i, std::span<const std::uint8_t> frame, std::uint32_t pts, bool timed);
  bool write(Track& t, std::uint32_t i, std::span<const std::uint8_t> frame);
  bool placeHeld(Track& t, std::uint32_t i);

  StreamTiming& timing_;
  Multiplexer& mux_;
  std::array<Track, kMaxMpegAudioTracks> tracks_{};
  bool followVideo_ = false;
};

}  // namespace kelvor
