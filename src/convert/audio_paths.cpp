#include "convert/audio_paths.h"

#include <algorithm>

#include "ac3dec/ac3_decoder.h"
#include "convert/audio_path_timing.h"
#include "convert/conversion_events.h"
#include "convert/gap_fill.h"
#include "transcode/eac3_transcoder.h"

namespace kelvor {

struct AudioPaths::Codecs {
  explicit Codecs(mpegenc::MpegFrameSink& sink) : encoder(sink) {}

  Ac3Decoder decoder;
  mpegenc::MpegAudioEncoder encoder;
  Eac3Transcoder transcoder;
  // The frame being converted, shared by all tracks; silence fills gaps.
  std::array<Q24, Ac3Decoder::kMaxSamples> left{};
  std::array<Q24, Ac3Decoder::kMaxSamples> right{};
  std::array<Q24, Ac3Decoder::kMaxSamples> silence{};
  std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes> transcoded{};
  // Per track the AC-3 frame written last, which fills a gap before a late one.
  std::array<std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes>, kMaxPrivateAudioTracks> last{};
  std::array<std::size_t, kMaxPrivateAudioTracks> lastLength{};
};

AudioPaths::AudioPaths(const RunSettings& run, const StreamTiming& timing, Multiplexer& mux)
    : run_(run), timing_(timing), mux_(mux), codecs_(std::make_unique<Codecs>(static_cast<mpegenc::MpegFrameSink&>(*this))) {}

AudioPaths::~AudioPaths() = default;

void AudioPaths::reset() {
  Codecs& c = *codecs_;
  c.decoder.ac3_decoder_init();
  c.transcoder.transcoder_reset();
  c.encoder.reset(run_.firstPrivateTrack);
  c.lastLength.fill(0);
  pending_.fill({});
}

std::uint32_t AudioPaths::pendingTicks(std::uint32_t j) const {
  return kBlockTicks * codecs_->transcoder.stored_blocks(j);
}

bool AudioPaths::WriteMpegAudioFrame(std::uint32_t track, std::span<const std::uint8_t> frame) {
  return mux_.WriteMpegAudioFrame(track, frame);
}

bool AudioPaths::NoteFrames(std::uint32_t j, std::uint32_t dropped, std::uint32_t repeated) {
  if (timing_.drops != nullptr) timing_.drops->AudioFrames(run_.privateTrack(j), dropped, repeated);
  return true;
}

bool AudioPaths::convertFrame(const ConvertedFrame& f, std::uint32_t& expectedTime) {
  if (f.privateTrack >= kMaxPrivateAudioTracks) return true;
  return run_.convertAc3ToMpeg ? toMpegAudio(f, expectedTime) : toAc3(f, expectedTime);
}

bool AudioPaths::toMpegAudio(const ConvertedFrame& f, std::uint32_t& expectedTime) {
  Codecs& c = *codecs_;
  const unsigned blocks =
      c.decoder.ac3_decode_frame(f.privateTrack, f.frame, f.isEac3 ? 1 : 0, c.left, c.right);
  if (blocks == 0) return true;  // rejected: nothing written, no time taken
  const std::uint32_t ticks = kBlockTicks * blocks;
  if (f.timingDelta < -static_cast<std::int32_t>(ticks / 2)) return NoteFrames(f.privateTrack, 1, 0);  // early
  // A gap is filled with silence: repeated samples of a frame this short
  // would be heard as a buzz, and the frame's own sound stays at its time.
  const std::uint32_t writes =
      LateFrameWrites(f.timingDelta, ticks, expectedTime + static_cast<std::uint32_t>(f.timingDelta), timing_);
  const std::size_t count = Ac3Decoder::kSamplesPerBlock * blocks;
  NoteFrames(f.privateTrack, 0, writes - 1);
  for (std::uint32_t w = 0; w < writes; ++w) {
    const bool gap = w + 1 < writes;
    if (!c.encoder.EncodeSamples(f.privateTrack, gap ? c.silence : c.left, gap ? c.silence : c.right, count)) {
      return false;
    }
    expectedTime += ticks;
  }
  return true;
}

bool AudioPaths::toAc3(const ConvertedFrame& f, std::uint32_t& expectedTime) {
  Codecs& c = *codecs_;
  const std::uint32_t j = f.privateTrack;
  Pending& pending = pending_[j];
  const unsigned storedBefore = c.transcoder.stored_blocks(j);
  std::size_t length = 0;
  if (!c.transcoder.transcode_eac3_frame(j, f.frame, c.transcoded, length)) {
    // Stored towards the next AC-3 frame, or refused (nothing kept).
    const unsigned stored = c.transcoder.stored_blocks(j);
    if (stored == 0) {
      pending = {};
    } else if (stored > storedBefore && f.timed) {
      pending = {true, f.timingDelta};
    }
    return true;
  }
  // The AC-3 frame starts at its first stored block; the lateness handed in
  // was measured against that block's place (pendingTicks), so it holds for
  // the whole frame.
  const std::int32_t delta = f.timed ? f.timingDelta : (pending.timed ? pending.delta : 0);
  pending = {};
  if (delta < -static_cast<std::int32_t>(kAc3FrameTicks / 2)) return NoteFrames(j, 1, 0);  // early
  const std::span<const std::uint8_t> frame(c.transcoded.data(), length);
  const std::uint32_t writes =
      LateFrameWrites(delta, kAc3FrameTicks, expectedTime + static_cast<std::uint32_t>(delta), timing_);
  NoteFrames(j, 0, writes - 1);
  const std::span<const std::uint8_t> filler =
      c.lastLength[j] > 0 ? std::span<const std::uint8_t>(c.last[j].data(), c.lastLength[j]) : frame;
  for (std::uint32_t w = 0; w < writes; ++w) {
    if (!mux_.WriteAc3Frame(j, w + 1 < writes ? filler : frame)) return false;
    expectedTime += kAc3FrameTicks;
  }
  std::copy(frame.begin(), frame.end(), c.last[j].begin());
  c.lastLength[j] = length;
  return true;
}

}  // namespace kelvor
