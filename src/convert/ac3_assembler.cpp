#include "convert/ac3_assembler.h"

#include <algorithm>
#include <cstring>

#include "convert/conversion_events.h"
#include "convert/gap_fill.h"

#include "ac3dec/tables.h"

namespace kelvor {

Ac3Assembler::Ac3Assembler(const RunSettings& run, StreamTiming& timing, Multiplexer& mux,
                           AudioConverter& converter)
    : run_(run), timing_(timing), mux_(mux), converter_(converter) {
  for (Track& t : tracks_) {
    t.frame[0] = 0x0B;  // the sync word, never overwritten
    t.frame[1] = 0x77;
  }
}

void Ac3Assembler::Reset() {
  for (Track& t : tracks_) {
    t.ResetCollected();
    t.phase = 0;
    t.expectedTime = 0;
    t.eac3 = false;
  }
}

std::uint32_t Ac3Assembler::checkHeader(Track& t) {
  const std::uint8_t* f = t.frame.data();
  const std::uint32_t bsid = f[5] >> 3;
  const std::uint32_t fscod = f[4] >> 6;
  std::uint32_t length = 0;
  bool eac3 = false;
  if (bsid <= 8) {
    const std::uint32_t i = (f[4] >> 1) & 0x1F;  // frmsizecod without its lowest bit
    if (i >= ac3::kFrameSizeWords48.size()) return 0;
    length = 2u * ac3::kFrameSizeWords48[i];
  } else if (bsid >= 10 && bsid <= 16) {
    const std::uint32_t strmtyp = f[2] >> 6;
    const std::uint32_t substreamid = (f[2] >> 3) & 7;
    if (strmtyp == 1 || strmtyp == 3 || substreamid != 0) return 0;
    const std::uint32_t frmsiz = (static_cast<std::uint32_t>(f[2] & 7) << 8) | f[3];
    length = 2 * frmsiz + 2;
    eac3 = true;
  } else {
    return 0;
  }
  if (fscod != 0) return 0;
  // A frame shorter than its own header cannot be collected.
  if (length < 6) return 0;
  t.eac3 = eac3;
  return length;
}

void Ac3Assembler::setTiming(Track& t, std::uint32_t j) {
  t.frameTimed = t.framePtsValid;
  if (!t.framePtsValid && t.chained) {
    // Its time is the one before it plus a frame: frames of a PES that came
    // early are all dropped, not only the first. E-AC-3 frames vary in
    // length and are not chained.
    t.framePts = t.nextPts;
    t.frameTimed = true;
  }
  t.chained = t.frameTimed && !t.eac3;
  t.nextPts = t.framePts + kAc3FrameTicks;
  if (!t.framePtsValid) return;
  t.stamp.Take();
  const std::uint32_t k = run_.privateTrack(j);
  const std::uint32_t time = t.framePts - timing_.startBase;
  const std::uint32_t delay = run_.convertAc3ToMpeg ? kMpegAudioDelayTicks : 0;
  if (mux_.StartTrack(k, time - delay)) t.expectedTime = time;
}

std::int32_t Ac3Assembler::delayOf(const Track& t, std::uint32_t j, std::uint32_t pts, bool timed) const {
  // Taken when the frame goes out: the time origin may have moved meanwhile.
  // Blocks waiting in the converter for a whole output frame are input time
  // already taken.
  return timed ? TimeDifference(pts - timing_.startBase, t.expectedTime + converter_.pendingTicks(j)) : 0;
}

std::int32_t Ac3Assembler::lateThreshold(std::uint32_t j, std::span<const std::uint8_t> frame) const {
  // Decoded frames and E-AC-3 frames kept as they are are timed by their
  // own length; frames written as AC-3 (passed through or transcoded) by
  // the AC-3 frame's.
  if (!run_.convertAc3ToMpeg && !(run_.keepEac3 && tracks_[j].eac3)) return kHalfFrame;
  return static_cast<std::int32_t>(SyncframeBlocks(frame, tracks_[j].eac3) * kBlockTicks / 2);
}

bool Ac3Assembler::place(Track& t, std::uint32_t j, std::span<const std::uint8_t> frame, std::uint32_t pts,
                         bool timed) {
  const std::int32_t delta = delayOf(t, j, pts, timed);
  const bool eac3 = t.eac3;
  const bool keep = eac3 && run_.keepEac3;
  if (run_.convertAc3ToMpeg || (eac3 && !keep)) {
    return converter_.convertFrame({j, frame, eac3, timed, delta}, t.expectedTime);
  }
  // A kept E-AC-3 frame lasts its own blocks (one, two, three or six).
  const std::uint32_t ticks = keep ? SyncframeBlocks(frame, true) * kBlockTicks : kAc3FrameTicks;
  const std::int32_t half = static_cast<std::int32_t>(ticks / 2);
  if (delta < -half && timing_.drops != nullptr) timing_.drops->AudioFrames(run_.privateTrack(j), 1, 0);
  if (delta < -half) return true;  // early: the output is ahead
  // Late by half a frame or more: repeats of the frame before fill the gap.
  // The frame's own time is where the output would be had nothing been lost.
  const std::uint32_t writes =
      LateFrameWrites(delta, ticks, t.expectedTime + static_cast<std::uint32_t>(delta), timing_);
  if (timing_.drops != nullptr) timing_.drops->AudioFrames(run_.privateTrack(j), 0, writes - 1);
  const std::span<const std::uint8_t> filler = t.filler(frame);
  for (std::uint32_t w = 0; w < writes; ++w) {
    if (!mux_.WriteAc3Frame(j, w + 1 < writes ? filler : frame, ticks)) return false;
    t.expectedTime += ticks;
  }
  t.keepLast(frame);
  return true;
}

bool Ac3Assembler::ContinuePes(std::span<const std::uint8_t> payload, std::uint32_t j) {
  if (j >= tracks_.size()) return true;
  Track& t = tracks_[j];
  std::size_t pos = 0;
  const std::size_t n = payload.size();
  while (pos < n) {
    const std::uint8_t b = payload[pos];
    if (t.phase == 0) {
      const auto* found = std::find(payload.data() + pos, payload.data() + n, std::uint8_t{0x0B});
      pos = static_cast<std::size_t>(found - payload.data());
      if (pos == n) return true;
      ++pos;
      t.TakePts();
      t.phase = 1;
    } else if (t.phase == 1) {
      ++pos;
      if (b == 0x0B) {
        t.TakePts();  // a run of 0x0B: the sync word starts at the last one
      } else {
        t.phase = b == 0x77 ? 2 : 0;
      }
    } else if (t.phase < 6) {
      ++pos;
      t.frame[t.phase] = b;
      if (t.phase < 5) {
        ++t.phase;
        continue;
      }
      t.frameLength = checkHeader(t);
      if (t.frameLength == 0) {
        t.phase = 0;  // rejected header bytes are not scanned again
        continue;
      }
      setTiming(t, j);
      t.toCollect = t.frameLength - 6;
      t.phase = 6;
      if (t.toCollect == 0 && !frameDone(t, j)) return false;
    } else {
      pos += t.CollectBody(payload.subspan(pos));
      if (t.toCollect == 0 && !frameDone(t, j)) return false;
    }
  }
  return true;
}

}  // namespace kelvor
