#pragma once
// The MPEG-1 Layer II encoder: Q24 PCM in, frames out, for up to four
// independent tracks of one stream format (the conversion's is 48 kHz,
// 384 kbit/s stereo: 1152-byte frames). All state is held here, sized once;
// encoding a frame allocates nothing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "common/q24.h"
#include "mpegenc/bit_allocation.h"
#include "mpegenc/filterbank.h"
#include "mpegenc/frame_writer.h"
#include "mpegenc/psycho_model.h"
#include "mpegenc/stream_format.h"
#include "mpegenc/tables.h"

namespace kelvor::mpegenc {

// Where finished frames go; the multiplexer's MPEG audio writer in a
// conversion, a file in the command-line encoder.
class MpegFrameSink {
 public:
  virtual ~MpegFrameSink() = default;
  // False when the output refused the frame.
  [[nodiscard]] virtual bool WriteMpegAudioFrame(std::uint32_t track, std::span<const std::uint8_t> frame) = 0;
};

// The model sees the last 192 samples of the previous frame and the first
// 832 of this one.
inline constexpr int kModelLookBack = 192;

// Samples of delay from the encoder's input to a decoder's output: the
// analysis and synthesis filters together.
inline constexpr int kCodecDelay = 481;

class MpegAudioEncoder {
 public:
  static constexpr unsigned kTracks = 4;

  // Frames of track j go to output track outputTrackBase + j. `format`
  // must pass CheckStreamFormat.
  explicit MpegAudioEncoder(MpegFrameSink& sink, std::uint32_t outputTrackBase = 0,
                            const StreamFormat& format = kConversionFormat);

  // The per-run reset: every track's waiting samples and filter and model histories.
  void reset(std::uint32_t outputTrackBase);

  // Appends count samples of each channel to track j; each full 1152 makes a
  // frame, which goes to the sink at once. False when the sink refused a
  // frame (the samples not yet taken are dropped) or j is not a track. A
  // mono stream takes `left` and ignores `right`.
  [[nodiscard]] bool EncodeSamples(unsigned j, std::span<const Q24> left, std::span<const Q24> right,
                                   std::size_t count);

  std::uint32_t samplesWaiting(unsigned j) const { return j < kTracks ? tracks_[j].samplesWaiting : 0; }

  const StreamFormat& format() const { return format_; }

  // What the last frame decided, for tests and tools.
  struct FrameDetails {
    std::array<std::array<std::array<std::uint8_t, 3>, kMaxSubbands>, kChannels> scaleIndex;  // before patterns
    ScaleChoices scale;
    ChannelValues smr;
    Allocation allocation;
  };
  const FrameDetails& lastFrame() const { return details_; }

 private:
  static constexpr std::size_t kPcmLength = kFilterHistory + kFrameSamples;

  // Encodes the 1152 collected samples of track j; returns the frame.
  std::span<const std::uint8_t> EncodeFrame(unsigned j);

  struct TrackState {
    std::uint32_t samplesWaiting = 0;
    FrameLengths lengths;
    // Per channel, time-ordered: the filter's history, then the frame being collected.
    std::array<std::array<Q24, kPcmLength>, kChannels> pcm{};
  };

  MpegFrameSink& sink_;
  std::uint32_t outputTrackBase_;
  StreamFormat format_;
  const AllocationTable& table_;
  std::array<TrackState, kTracks> tracks_;
  std::array<SubbandFrame, kChannels> subbands_{};
  PsychoModel model_;
  FrameDetails details_{};
  std::array<std::uint8_t, kMaxFrameBytes + 1> frame_{};
};

}  // namespace kelvor::mpegenc
