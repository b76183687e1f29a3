#pragma once
// Finds the AC-3 and E-AC-3 syncframes in the private tracks' PES payloads,
// checks their headers (48 kHz only; E-AC-3 independent substream 0 only),
// collects whole frames and keeps each track in time: a frame more than half
// a frame early is dropped, one half a frame late or more follows one repeat
// of the frame before it per missing frame.
// AC-3 frames go out unchanged; the others go to the AudioConverter. While
// the video is followed, a late frame and those after it wait until the
// video's next time stamp shows whether the picture lost the same time
// (HeldFrames).
#include <array>
#include <cstdint>
#include <span>

#include "convert/audio_converter.h"
#include "convert/audio_path_timing.h"
#include "convert/cut_plan.h"
#include "convert/frame_assembler.h"
#include "convert/pes_stamp.h"
#include "mux/multiplexer.h"
#include "mux/run_settings.h"
#include "convert/stream_timing.h"
#include "scan/track_table.h"

namespace kelvor {

namespace ac3_assembler {
inline constexpr std::uint32_t kFrameBufferSize = 4096;
struct Track : CollectedFrame<kFrameBufferSize> {
  std::uint32_t phase = 0;  // 0 hunt, 1 sync, 2..5 header bytes, 6 body
  bool eac3 = false;        // the last header read was E-AC-3
  std::uint32_t nextPts = 0;
  std::uint32_t expectedTime = 0;
};
}  // namespace ac3_assembler

class Ac3Assembler final : public FrameAssembler<Ac3Assembler, ac3_assembler::Track, kMaxPrivateAudioTracks> {
 public:
  static constexpr std::uint32_t kFrameBufferSize = ac3_assembler::kFrameBufferSize;
  static constexpr std::int32_t kHalfFrame = 1440;  // half of 1536 samples at 48 kHz

  Ac3Assembler(const RunSettings& run, StreamTiming& timing, Multiplexer& mux, AudioConverter& converter);

  // Start of a run: every track hunts for a sync word.
  void Reset() override;

  // Track j is audio track run.privateTrack(j).
  [[nodiscard]] bool ContinuePes(std::span<const std::uint8_t> payload, std::uint32_t j) override;

  // The track's input time of its next frame, relative to the common start.
  std::uint32_t expectedTime(std::uint32_t j) const { return tracks_[j].expectedTime; }

 private:
  friend class FrameAssembler<Ac3Assembler, ac3_assembler::Track, kMaxPrivateAudioTracks>;
  using Track = ac3_assembler::Track;

  // Length of the frame whose header is in t.frame[2..5], or 0 when refused.
  static std::uint32_t checkHeader(Track& t);
  void setTiming(Track& t, std::uint32_t j);
  bool frameDone(Track& t, std::uint32_t j) {
    t.phase = 0;
    return dispatch(t, j);
  }
  // The frame's time minus the track's input time of its next frame (positive = late).
  std::int32_t delayOf(const Track& t, std::uint32_t j, std::uint32_t pts, bool timed) const;
  // How late a frame may come and still count as on time.
  std::int32_t lateThreshold(std::uint32_t j, std::span<const std::uint8_t> frame) const;
  bool leftOutByCut(const Track& t, std::uint32_t j, std::span<const std::uint8_t> frame) {
    return timing_.cuts != nullptr && timing_.cuts->active() &&
           timing_.cuts->LeavesOutAudio(run_.privateTrack(j), t.framePts, SyncframeBlocks(frame, t.eac3) * kBlockTicks);
  }
  bool lateToPlace(const Track& t, std::uint32_t j, std::span<const std::uint8_t> frame) const {
    return delayOf(t, j, t.framePts, t.frameTimed) >= lateThreshold(j, frame);
  }
  bool place(Track& t, std::uint32_t j, std::span<const std::uint8_t> frame, std::uint32_t pts, bool timed);

  const RunSettings& run_;
  StreamTiming& timing_;
  Multiplexer& mux_;
  AudioConverter& converter_;
};

}  // namespace kelvor
