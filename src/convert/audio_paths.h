#pragma once
// The two ways an AC-3/E-AC-3 frame can take besides going out unchanged:
//
// - to MPEG audio (the run converts AC-3 to MPEG audio): the frame is decoded
//   to stereo and its samples fed to the MPEG audio encoder, whose frames go
//   out as the MPEG audio of audio track j of the AC-3 chain;
// - E-AC-3 to AC-3 (no conversion asked for): the frame is rewritten as AC-3
//   and written like an AC-3 frame.
//
// Both keep the track in time like the pass-through: a frame that comes more
// than half its own length early is dropped, a late one closes the gap
// first (gap_fill.h). A decoded frame is timed by its own blocks (480 ticks
// each). A transcoded frame is timed as the AC-3 frame it completes: one-,
// two- and three-block E-AC-3 frames are stored until six blocks make an AC-3
// frame, and that frame starts where its first stored block started.
//
// The codecs, their sample arrays and the frame buffers are made once, here.
#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "convert/audio_converter.h"
#include "convert/stream_timing.h"
#include "mpegenc/mpeg_audio_encoder.h"
#include "mux/multiplexer.h"
#include "mux/run_settings.h"
#include "scan/track_table.h"

namespace kelvor {

class AudioPaths final : public AudioConverter, private mpegenc::MpegFrameSink {
 public:
  AudioPaths(const RunSettings& run, const StreamTiming& timing, Multiplexer& mux);
  ~AudioPaths() override;
  AudioPaths(const AudioPaths&) = delete;
  AudioPaths& operator=(const AudioPaths&) = delete;

  // Decoder, encoder (waiting samples, filter and model histories) and
  // transcoder start afresh; the encoder's frames go to the run's numbering.
  void reset() override;
  bool convertFrame(const ConvertedFrame& frame, std::uint32_t& expectedTime) override;
  std::uint32_t pendingTicks(std::uint32_t j) const override;

 private:
  struct Codecs;
  // The E-AC-3 blocks stored towards the next AC-3 frame of a track.
  struct Pending {
    bool timed = false;
    std::int32_t delta = 0;  // lateness of the latest timed frame among them
  };

  bool toMpegAudio(const ConvertedFrame& f, std::uint32_t& expectedTime);
  bool toAc3(const ConvertedFrame& f, std::uint32_t& expectedTime);
  // The drop report: frames of private track j dropped early or repeated to fill a gap. Always true.
  bool NoteFrames(std::uint32_t j, std::uint32_t dropped, std::uint32_t repeated);
  bool WriteMpegAudioFrame(std::uint32_t track, std::span<const std::uint8_t> frame) override;

  const RunSettings& run_;
  const StreamTiming& timing_;
  Multiplexer& mux_;
  std::unique_ptr<Codecs> codecs_;
  std::array<Pending, kMaxPrivateAudioTracks> pending_{};
};

}  // namespace kelvor
