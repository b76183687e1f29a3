#include "convert/mpeg_audio_assembler.h"

#include <algorithm>
#include <cstring>

#include "convert/gap_fill.h"

namespace kelvor {

void MpegAudioAssembler::reset() {
  for (Track& t : tracks_) {
    t.phase = Phase::Hunt;
    t.frame[0] = 0xFF;  // every frame starts with it; never overwritten
    t.toCollect = 0;
    t.timingDelta = 0;
    t.framePtsValid = false;
    t.lastLength = 0;
  }
}

void MpegAudioAssembler::takePts(Track& t, std::uint32_t i) {
  t.framePts = timing_.mpegAudioPts[i];
  t.framePtsValid = timing_.mpegAudioPtsValid[i];
}

void MpegAudioAssembler::startBody(Track& t, std::uint32_t i, std::uint8_t headerByte2) {
  t.frame[2] = headerByte2;
  MuxClock& clock = mux_.clock();
  if (!t.framePtsValid) {
    t.timingDelta = 0;
  } else {
    // The PES time stamp belongs to the first frame that begins in the PES.
    timing_.mpegAudioPtsValid[i] = false;
    if (!clock.outTimeSet[i]) {
      clock.trackOutTime[i] = t.framePts - timing_.startBase;
      clock.outTimeSet[i] = true;
      t.timingDelta = 0;
    } else {
      t.timingDelta = TimeDifference(t.framePts - timing_.startBase, clock.trackOutTime[i]);
    }
  }
  t.frameLength = kLayer2FrameBytes48k[headerByte2 >> 4];
  t.toCollect = t.frameLength - 3;
  t.phase = Phase::Body;
}

bool MpegAudioAssembler::dispatch(Track& t, std::uint32_t i) {
  t.phase = Phase::Hunt;
  if (t.timingDelta < -kHalfFrame) return true;  // early: the output is ahead
  const std::span<const std::uint8_t> frame(t.frame.data(), t.frameLength);
  // Late by half a frame or more: repeats of the frame before fill the gap.
  const std::uint32_t writes =
      LateFrameWrites(t.timingDelta, 2 * kHalfFrame, t.framePts - timing_.startBase, timing_);
  const std::span<const std::uint8_t> filler =
      t.lastLength > 0 ? std::span<const std::uint8_t>(t.last.data(), t.lastLength) : frame;
  for (std::uint32_t w = 1; w < writes; ++w) {
    if (!mux_.WriteMpegAudioFrame(i, filler)) return false;
  }
  if (!mux_.WriteMpegAudioFrame(i, frame)) return false;
  std::copy(frame.begin(), frame.end(), t.last.begin());
  t.lastLength = t.frameLength;
  return true;
}

bool MpegAudioAssembler::HandleMpegAudio(std::span<const std::uint8_t> payload, std::uint32_t i) {
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
        takePts(t, i);
        t.phase = Phase::Sync;
        break;
      }
      case Phase::Sync:
        ++pos;
        if (b == 0xFF) {
          takePts(t, i);
        } else if ((b & 0xFC) == 0xFC) {  // MPEG-1, Layer I or II
          t.frame[1] = b;
          t.phase = Phase::Header;
        } else {
          t.phase = Phase::Hunt;
        }
        break;
      case Phase::Header: {
        ++pos;
        const std::uint32_t bitrateIndex = b >> 4;
        if (b == 0xFF) {
          takePts(t, i);
          t.phase = Phase::Sync;
        } else if (bitrateIndex == 0 || bitrateIndex == 15) {
          t.phase = Phase::Hunt;
        } else {
          startBody(t, i, b);
        }
        break;
      }
      case Phase::Body: {
        const std::size_t take = std::min<std::size_t>(t.toCollect, n - pos);
        std::memcpy(t.frame.data() + (t.frameLength - t.toCollect), payload.data() + pos, take);
        pos += take;
        t.toCollect -= static_cast<std::uint32_t>(take);
        if (t.toCollect == 0 && !dispatch(t, i)) return false;
        break;
      }
    }
  }
  return true;
}

}  // namespace kelvor
