#include "convert/mpeg_audio_assembler.h"

#include <algorithm>
#include <cstring>

#include "convert/conversion_events.h"
#include "convert/gap_fill.h"

namespace kelvor {

void MpegAudioAssembler::Reset() {
  for (Track& t : tracks_) {
    t.ResetCollected();
    t.phase = Phase::Hunt;
    t.frame[0] = 0xFF;  // every frame starts with it; never overwritten
    t.chainFrames = 0;
    t.outTicks.Reset();
  }
}

void MpegAudioAssembler::startBody(Track& t, std::uint32_t i, std::uint8_t headerByte2) {
  t.frame[2] = headerByte2;
  t.frameTimed = t.framePtsValid;
  t.duration = MpegFrameTicks(t.frame[1], headerByte2);
  if (t.framePtsValid) {
    t.stamp.Take();
    mux_.StartTrack(i, t.framePts - timing_.startBase);
    t.chainBase = t.framePts;
    t.chainFrames = 0;
  } else if (t.chained) {
    // Its time is the one before it plus a frame: frames of a PES that came
    // early are all dropped, not only the first.
    t.framePts = t.chainBase + t.duration.TicksOf(t.chainFrames);
    t.frameTimed = true;
  }
  t.chained = t.frameTimed;
  ++t.chainFrames;
  t.frameLength = Mpeg1FrameBytes(t.frame[1], headerByte2);
  t.toCollect = t.frameLength - 3;
  t.phase = Phase::Body;
}

std::int32_t MpegAudioAssembler::delayOf(std::uint32_t pts, bool timed, std::uint32_t i) const {
  // Taken when the frame goes out: the time origin may have moved meanwhile.
  return timed ? TimeDifference(pts - timing_.startBase, mux_.TrackOutTime(i)) : 0;
}

bool MpegAudioAssembler::place(Track& t, std::uint32_t i, std::span<const std::uint8_t> frame,
                               std::uint32_t pts, bool timed) {
  const FrameDuration duration = MpegFrameTicks(frame[1], frame[2]);
  const std::int32_t delta = delayOf(pts, timed, i);
  if (duration.EarlyByMoreThanHalf(delta) && timing_.drops != nullptr) timing_.drops->AudioFrames(i, 1, 0);
  if (duration.EarlyByMoreThanHalf(delta)) return true;  // early: the output is ahead
  // Late by half a frame or more: repeats of the frame before fill the gap.
  const std::uint32_t writes = LateFrameWrites(delta, duration, pts - timing_.startBase, timing_);
  if (timing_.drops != nullptr) timing_.drops->AudioFrames(i, 0, writes - 1);
  const std::span<const std::uint8_t> filler = t.filler(frame);
  for (std::uint32_t w = 1; w < writes; ++w) {
    if (!write(t, i, filler)) return false;
  }
  if (!write(t, i, frame)) return false;
  t.keepLast(frame);
  return true;
}

bool MpegAudioAssembler::write(Track& t, std::uint32_t i, std::span<const std::uint8_t> frame) {
  return mux_.WriteMpegAudioFrame(i, frame, t.outTicks.Next(MpegFrameTicks(frame[1], frame[2])));
}

bool MpegAudioAssembler::ContinuePes(std::span<const std::uint8_t> payload, std::uint32_t i) {
  if (i >= tracks_.size()) return true;
  Track& t = tracks_[i];
  std::size_t pos = 0;
  const std::size_t n = payload.size();
  while (pos < n) {
    const std::uint8_t b = payload[pos];
    switch (t.phase) {
      case Phase::Hunt: {
        const auto* found = std::find(payload.data() + pos, payload.data() + n, std::uint8_t{0xFF});
        pos = static_cast<std::size_t>(found - payload.data());
        if (pos == n) return true;
        ++pos;
        t.TakePts();
        t.phase = Phase::Sync;
        break;
      }
      case Phase::Sync:
        ++pos;
        if (b == 0xFF && t.layer1) {
          // Layer I without CRC, or a new sync byte: the next byte tells.
          t.frame[1] = b;
          t.phase = Phase::Header;
        } else if (b == 0xFF) {
          t.TakePts();
        } else if ((b & 0xFC) == 0xFC) {  // MPEG-1, Layer I or II
          t.frame[1] = b;
          t.phase = Phase::Header;
        } else {
          t.phase = Phase::Hunt;
        }
        break;
      case Phase::Header: {
        ++pos;
        if (t.layer1 && t.frame[1] == 0xFF && (b & 0xFC) == 0xFC) {
          // The 0xFF before was the sync byte; its time stamp is taken.
          if (b == 0xFF) t.TakePts();
          t.frame[1] = b;
        } else if (b == 0xFF) {
          t.TakePts();
          t.phase = Phase::Sync;
        } else if (Mpeg1FrameBytes(t.frame[1], b) == 0) {  // free format, forbidden or reserved
          t.phase = Phase::Hunt;
        } else {
          startBody(t, i, b);
        }
        break;
      }
      case Phase::Body: {
        pos += t.CollectBody(payload.subspan(pos));
        if (t.toCollect == 0 && !frameDone(t, i)) return false;
        break;
      }
    }
  }
  return true;
}

}  // namespace kelvor
