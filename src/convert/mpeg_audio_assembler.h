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

#include "convert/cut_plan.h"
#include "convert/frame_assembler.h"
#include "convert/mpeg_audio_frame_sizes.h"
#include "convert/pes_stamp.h"
#include "mux/multiplexer.h"
#include "convert/stream_timing.h"
#include "scan/track_table.h"

namespace kelvor {

namespace mpeg_audio_assembler {
enum class Phase : std::uint8_t { Hunt, Sync, Header, Body };
struct Track : CollectedFrame<kMaxMpegAudioFrameBytes> {
  Phase phase = Phase::Hunt;
  bool layer1 = false;
  // Frames chained since the last time stamp, timed from it exactly.
  std::uint32_t chainBase = 0;
  std::uint32_t chainFrames = 0;
  FrameDuration duration;   // of the frame being collected
  FrameTickCarry outTicks;  // the output time of the frames written
};
}  // namespace mpeg_audio_assembler

class MpegAudioAssembler final
    : public FrameAssembler<MpegAudioAssembler, mpeg_audio_assembler::Track, kMaxMpegAudioTracks> {
 public:
  MpegAudioAssembler(StreamTiming& timing, Multiplexer& mux) : timing_(timing), mux_(mux) {}

  // Start of a run: every track hunts for a sync byte.
  void Reset() override;

  // Track i is audio track i of the run (the MPEG audio tracks come first).
  [[nodiscard]] bool ContinuePes(std::span<const std::uint8_t> payload, std::uint32_t i) override;

  // Track i carries Layer I (as the scan found): its header's second byte
  // may be 0xFF (no CRC), which is then not taken for a new sync byte.
  void SetLayer(std::uint32_t i, std::uint32_t layer) {
    if (i < tracks_.size()) tracks_[i].layer1 = layer == 1;
  }

 private:
  friend class FrameAssembler<MpegAudioAssembler, mpeg_audio_assembler::Track, kMaxMpegAudioTracks>;
  using Phase = mpeg_audio_assembler::Phase;
  using Track = mpeg_audio_assembler::Track;

  void startBody(Track& t, std::uint32_t i, std::uint8_t headerByte2);
  bool frameDone(Track& t, std::uint32_t i) {
    t.phase = Phase::Hunt;
    return dispatch(t, i);
  }
  // The frame's time minus the track's output time (positive = late).
  std::int32_t delayOf(std::uint32_t pts, bool timed, std::uint32_t i) const;
  bool leftOutByCut(const Track& t, std::uint32_t i, std::span<const std::uint8_t>) {
    return timing_.cuts != nullptr && timing_.cuts->active() &&
           timing_.cuts->LeavesOutAudio(i, t.framePts, t.duration.TicksOf(1));
  }
  bool lateToPlace(const Track& t, std::uint32_t i, std::span<const std::uint8_t>) const {
    return t.duration.HalfOrMore(delayOf(t.framePts, t.frameTimed, i));
  }
  bool place(Track& t, std::uint32_t i, std::span<const std::uint8_t> frame, std::uint32_t pts, bool timed);
  bool write(Track& t, std::uint32_t i, std::span<const std::uint8_t> frame);

  StreamTiming& timing_;
  Multiplexer& mux_;
};

}  // namespace kelvor
