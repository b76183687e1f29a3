#pragma once
// Cuts the AAC tracks' PES payloads into whole ADTS or LOAS (LATM) frames
// and keeps each track in time with the output as MPEG audio is kept: a
// frame more than half a frame early is dropped, one half a frame late or
// more follows one repeat of the frame before it per missing frame. Frames
// are copied unchanged. A frame lasts 1024 samples per raw block at the
// rate of its core (an HE-AAC frame at half its output rate): the ADTS
// header's rate, or the one of the last stream mux configuration a LATM
// stream carried (frames before the first are not written).
#include <array>
#include <cstdint>
#include <span>

#include "convert/cut_plan.h"
#include "convert/frame_assembler.h"
#include "convert/gap_fill.h"
#include "convert/mpeg_audio_frame_sizes.h"
#include "convert/stream_timing.h"
#include "mux/multiplexer.h"
#include "scan/track_table.h"

namespace kelvor {

// The longest ADTS frame, and the longest LOAS frame (3 + 8191 bytes).
inline constexpr std::uint32_t kMaxAacFrameBytes = 3 + 8191;

namespace aac_assembler {
enum class Phase : std::uint8_t { Hunt, Header, Body };
struct Track : CollectedFrame<kMaxAacFrameBytes> {
  Phase phase = Phase::Hunt;
  bool latm = false;
  std::uint32_t headerBytes = 0;  // of the frame's header collected so far
  std::uint32_t coreRate = 0;     // LATM: from the last configuration seen
  std::uint32_t chainBase = 0;
  std::uint32_t chainFrames = 0;
  FrameDuration duration;   // of the frame being collected
  FrameTickCarry outTicks;  // the output time of the frames written
};
}  // namespace aac_assembler

class AacAssembler final : public FrameAssembler<AacAssembler, aac_assembler::Track, kMaxMpegAudioTracks> {
 public:
  AacAssembler(StreamTiming& timing, Multiplexer& mux) : timing_(timing), mux_(mux) {}

  void Reset() override;
  // Track i is audio track i of the run (AAC tracks share the MPEG audio
  // tracks' numbering); `latm` as the scan found it.
  void SetFraming(std::uint32_t i, bool latm) {
    if (i < tracks_.size()) tracks_[i].latm = latm;
  }
  [[nodiscard]] bool ContinuePes(std::span<const std::uint8_t> payload, std::uint32_t i) override;

 private:
  friend class FrameAssembler<AacAssembler, aac_assembler::Track, kMaxMpegAudioTracks>;
  using Phase = aac_assembler::Phase;
  using Track = aac_assembler::Track;

  // The header is whole: the frame's length and duration, or a new hunt.
  void startBody(Track& t, std::uint32_t i);
  bool frameDone(Track& t, std::uint32_t i);
  std::int32_t delayOf(std::uint32_t pts, bool timed, std::uint32_t i) const {
    return timed ? TimeDifference(pts - timing_.startBase, mux_.TrackOutTime(i)) : 0;
  }
  bool leftOutByCut(const Track& t, std::uint32_t i, std::span<const std::uint8_t>) {
    return timing_.cuts != nullptr && timing_.cuts->active() &&
           timing_.cuts->LeavesOutAudio(i, t.framePts, t.duration.TicksOf(1));
  }
  bool lateToPlace(const Track& t, std::uint32_t i, std::span<const std::uint8_t>) const {
    return t.duration.HalfOrMore(delayOf(t.framePts, t.frameTimed, i));
  }
  bool place(Track& t, std::uint32_t i, std::span<const std::uint8_t> frame, std::uint32_t pts, bool timed);

  StreamTiming& timing_;
  Multiplexer& mux_;
};

}  // namespace kelvor
