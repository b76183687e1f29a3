#include "convert/aac_assembler.h"

#include <algorithm>
#include <cstring>

#include "convert/conversion_events.h"
#include "matroska/aac_config.h"

namespace kelvor {

namespace {

constexpr std::uint32_t kSamplesPerBlock = 1024;
constexpr std::uint32_t kAdtsHeaderBytes = 7;  // the CRC, if any, is collected with the body
constexpr std::uint32_t kLoasHeaderBytes = 3;
constexpr std::uint8_t kLoasSync = 0x56;

FrameDuration BlocksAt(std::uint32_t blocks, std::uint32_t rate) {
  // A frame whose rate is not known yet is timed as at 48 kHz until it is.
  return {std::uint64_t{kSamplesPerBlock} * blocks * 90000, rate != 0 ? rate : 48000};
}

// The duration of a whole frame as its own header (ADTS) or the track's
// last configuration (LATM) gives it.
FrameDuration DurationOf(bool latm, std::uint32_t coreRate, std::span<const std::uint8_t> frame) {
  if (latm) return BlocksAt(1, coreRate);
  const auto h = mkv::ReadAdtsHeader(frame);
  return h ? BlocksAt(h->rawBlocks, mkv::AacSampleRate(h->frequencyIndex)) : BlocksAt(1, 0);
}

}  // namespace

void AacAssembler::Reset() {
  for (Track& t : tracks_) {
    t.ResetCollected();
    t.phase = Phase::Hunt;
    t.headerBytes = 0;
    t.coreRate = 0;
    t.chainFrames = 0;
    t.outTicks.Reset();
  }
}

void AacAssembler::startBody(Track& t, std::uint32_t i) {
  const auto header = std::span<const std::uint8_t>(t.frame).first(t.headerBytes);
  if (t.latm) {
    t.frameLength = kLoasHeaderBytes + (((header[1] & 0x1Fu) << 8) | header[2]);
  } else {
    const auto h = mkv::ReadAdtsHeader(header);
    if (!h || h->frameSize < kAdtsHeaderBytes || mkv::AacSampleRate(h->frequencyIndex) == 0) {
      t.phase = Phase::Hunt;
      return;
    }
    t.frameLength = h->frameSize;
  }
  t.duration = DurationOf(t.latm, t.coreRate, header);
  t.frameTimed = t.framePtsValid;
  if (t.framePtsValid) {
    t.stamp.Take();
    mux_.StartTrack(i, t.framePts - timing_.startBase);
    t.chainBase = t.framePts;
    t.chainFrames = 0;
  } else if (t.chained) {
    // Timed from the PES's stamp by the frames before it in the PES.
    t.framePts = t.chainBase + t.duration.TicksOf(t.chainFrames);
    t.frameTimed = true;
  }
  t.chained = t.frameTimed;
  ++t.chainFrames;
  t.toCollect = t.frameLength - t.headerBytes;
  t.phase = Phase::Body;
}

bool AacAssembler::frameDone(Track& t, std::uint32_t i) {
  t.phase = Phase::Hunt;
  t.headerBytes = 0;
  if (t.latm) {
    std::array<std::uint8_t, 64> asc{};
    const std::size_t size = mkv::AscFromLatm(t.collected(), asc);
    if (size > 0) {
      const std::uint32_t rate = mkv::CoreSampleRate(std::span(asc).first(size));
      if (rate != 0) t.coreRate = rate;
    }
    // Nothing tells how long a frame is before the first configuration.
    if (t.coreRate == 0) return true;
    t.duration = BlocksAt(1, t.coreRate);
  }
  return dispatch(t, i);
}

bool AacAssembler::place(Track& t, std::uint32_t i, std::span<const std::uint8_t> frame, std::uint32_t pts,
                         bool timed) {
  const FrameDuration duration = DurationOf(t.latm, t.coreRate, frame);
  const std::int32_t delta = delayOf(pts, timed, i);
  if (duration.EarlyByMoreThanHalf(delta) && timing_.drops != nullptr) timing_.drops->AudioFrames(i, 1, 0);
  if (duration.EarlyByMoreThanHalf(delta)) return true;  // early: the output is ahead
  // Late by half a frame or more: whole repeats of the frame before fill
  // the gap (a decoder takes them as the frames they are).
  const std::uint32_t writes = LateFrameWrites(delta, duration, pts - timing_.startBase, timing_);
  if (timing_.drops != nullptr) timing_.drops->AudioFrames(i, 0, writes - 1);
  const std::span<const std::uint8_t> filler = t.filler(frame);
  for (std::uint32_t w = 1; w < writes; ++w) {
    if (!mux_.WriteMpegAudioFrame(i, filler, t.outTicks.Next(DurationOf(t.latm, t.coreRate, filler)))) return false;
  }
  if (!mux_.WriteMpegAudioFrame(i, frame, t.outTicks.Next(duration))) return false;
  t.keepLast(frame);
  return true;
}

bool AacAssembler::ContinuePes(std::span<const std::uint8_t> payload, std::uint32_t i) {
  if (i >= tracks_.size()) return true;
  Track& t = tracks_[i];
  const std::uint8_t sync = t.latm ? kLoasSync : 0xFF;
  const std::uint32_t headerBytes = t.latm ? kLoasHeaderBytes : kAdtsHeaderBytes;
  std::size_t pos = 0;
  const std::size_t n = payload.size();
  while (pos < n) {
    switch (t.phase) {
      case Phase::Hunt: {
        const auto* found = std::find(payload.data() + pos, payload.data() + n, sync);
        pos = static_cast<std::size_t>(found - payload.data());
        if (pos == n) return true;
        t.frame[0] = payload[pos++];
        t.headerBytes = 1;
        t.TakePts();
        t.phase = Phase::Header;
        break;
      }
      case Phase::Header: {
        const std::uint8_t b = payload[pos++];
        if (t.headerBytes == 1) {
          const bool second = t.latm ? (b & 0xE0) == 0xE0 : (b & 0xF6) == 0xF0;
          if (!second) {
            // Perhaps a sync byte itself: the hunt goes on from it.
            if (b == sync) t.TakePts();
            else t.phase = Phase::Hunt;
            break;
          }
        }
        t.frame[t.headerBytes++] = b;
        if (t.headerBytes == headerBytes) startBody(t, i);
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
