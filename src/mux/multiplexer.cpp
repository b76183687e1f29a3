#include "mux/multiplexer.h"

#include <algorithm>

#include "common/mpeg_ids.h"
#include "mux/dvd_nav_pack.h"
#include "mux/program_stream_headers.h"
#include "mux/time_stamp_fields.h"
#include "mux/ts_psi.h"

namespace kelvor {

Multiplexer::Multiplexer(PacketSink& output, const RunSettings& run)
    : output_(output),
      run_(run),
      buffers_(std::make_unique<Buffers>()) {
  ResetTiming();
}

void Multiplexer::ResetTiming() {
  clock_.muxClock = 0;
  clock_.pendingVideoPts = kNoPts;
  clock_.pendingPts.fill(kNoPts);
  clock_.trackOutTime.fill(0);
  clock_.outTimeSet.fill(false);
  clock_.lastPcr = 0;
  clock_.pcrWritten = false;
  clock_.lastHeaderTime = 0;
}

void Multiplexer::ResetStream(StreamPacketState& s, std::uint8_t* tmpl, bool psAc3) {
  s.packetTemplate = tmpl;
  s.firstOffset = psAc3 ? kPsAc3PayloadOffset : layout_.firstPayloadOffset;
  s.firstSize = psAc3 ? kPsAc3PayloadSize : layout_.firstPayloadSize;
  s.contOffset = psAc3 ? kPsAc3PayloadOffset : layout_.contPayloadOffset;
  s.contSize = psAc3 ? kPsAc3PayloadSize : layout_.contPayloadSize;
  s.cursor = tmpl + s.firstOffset;
  s.remaining = s.firstSize;
  s.ptsPlaced = false;
  s.followingInUse = false;
  s.continuityCounter = 0;
  s.subStreamHeader = psAc3;
  s.framesStarted = 0;
  s.firstFramePointer = 0;
}

void Multiplexer::BuildStreamHeaders(OutputFormat format) {
  layout_ = LayoutFor(format);
  Buffers& b = *buffers_;
  audioSlots_ = std::min(run_.slotCount(), kMaxAudioOutputs);
  units_ = format == OutputFormat::Matroska ? unitSinkOwner_ : nullptr;
  if (units_ != nullptr) {
    video_.ptsPlaced = false;
    units_->Start();
    return;
  }

  if (!layout_.isTransportStream()) {
    BuildProgramStreamHeaderPack(b.header, run_);
    // DVD players read at the fixed DVD rate; plain program streams declare
    // what their streams need.
    const std::uint32_t rate =
        layout_.isDvd() ? kDvdMuxRate
                        : ProgramStreamMuxRate(run_.ac3OutCount, run_.videoBitRate, run_.mpegOutCount);
    if (layout_.isDvd()) BuildDvdNavPack(b.nav, audioSlots_);
    BuildProgramStreamTemplate(b.video, rate, kFirstVideoStreamId, -1);
    for (std::uint32_t slot = 0; slot < audioSlots_; ++slot) {
      if (slot < run_.mpegOutCount) {
        BuildProgramStreamTemplate(b.audio[slot], rate, static_cast<std::uint8_t>(kFirstMpegAudioStreamId + slot), -1);
      } else {
        // The sub-stream number counts the AC-3 streams; one selected track is 0x80.
        const std::uint32_t t = run_.allTracks ? slot - run_.mpegOutCount : 0;
        BuildProgramStreamTemplate(b.audio[slot], rate, kPrivateStream1Id, static_cast<int>(0x80 + t));
      }
    }
  } else {
    const std::uint32_t prefix = layout_.prefixSize;
    const std::uint32_t size = layout_.packetSize;
    std::fill(b.header.begin(), b.header.end(), std::uint8_t{0});
    BuildPatPacket(std::span(b.header).subspan(prefix).first<kTsPacketSize>());
    BuildPmtPacket(std::span(b.header).subspan(size + prefix).first<kTsPacketSize>(), run_);
    BuildPcrPacket(std::span(b.header).subspan(2 * size + prefix).first<kTsPacketSize>());
    BuildTsTemplate(b.video, prefix, kVideoPid, kFirstVideoStreamId);
    for (std::uint32_t slot = 0; slot < audioSlots_; ++slot) {
      const bool ac3 = slot >= run_.mpegOutCount;
      BuildTsTemplate(b.audio[slot], prefix, static_cast<std::uint16_t>(kFirstAudioPid + slot),
                      ac3 ? kPrivateStream1Id : kFirstMpegAudioStreamId);
    }
  }

  const bool ps = !layout_.isTransportStream();
  ResetStream(video_, b.video.data(), false);
  for (std::uint32_t slot = 0; slot < kMaxAudioOutputs; ++slot) {
    ResetStream(audio_[slot], b.audio[slot].data(), ps && slot >= run_.mpegOutCount);
  }
  headerCounter_ = 0;
  patCounter_ = 0;
  navWritten_ = videoSinceNav_ = false;
  clock_.nextHeaderTime = 0;
}

void Multiplexer::StampPacket(std::uint8_t* packet) {
  if (!layout_.isTransportStream()) {
    WriteScrField(packet + 4, clock_.muxClock);
  } else if (layout_.prefixSize != 0) {
    WriteArrivalTimeStamp(packet, clock_.muxClock);
  }
  clock_.muxClock += layout_.clockStep;
}

void Multiplexer::SetContinuityCounter(std::uint8_t* packet, std::uint8_t& counter) const {
  std::uint8_t& b = packet[layout_.ccOffset];
  b = static_cast<std::uint8_t>((b & 0xF0) | (counter & 0x0F));
  counter = static_cast<std::uint8_t>((counter + 1) & 0x0F);
}

bool Multiplexer::AdvanceClock() {
  std::uint32_t lagging = clock_.pendingVideoPts;
  for (std::uint32_t pts : clock_.pendingPts) lagging = std::min(lagging, pts);
  if (clock_.muxClock + kHeaderInterval < lagging && !MoveClockTo(lagging - kHeaderInterval)) return false;
  if (clock_.muxClock < clock_.nextHeaderTime) return true;
  if (!WriteHeaderMaterial()) return false;
  // Once per call, even when the clock has run further ahead.
  clock_.nextHeaderTime += kHeaderInterval;
  return true;
}

bool Multiplexer::WriteHeaderMaterial() {
  std::uint8_t* header = buffers_->header.data();
  // DVD output carries its system header in the navigation packs; the
  // first one opens the output, so that no audio comes before it.
  if (layout_.isDvd()) return navWritten_ || WriteNavPack();
  if (!layout_.isTransportStream()) {
    StampPacket(header);
    return Append(header);
  }
  const std::uint32_t size = layout_.packetSize;
  std::uint8_t* pat = header;
  std::uint8_t* pmt = header + size;
  if (!WritePcrIfDue(3)) return false;

  // The PAT counts its own continuity_counter like any PID with payload.
  clock_.lastHeaderTime = clock_.muxClock;
  StampPacket(pat);
  SetContinuityCounter(pat, patCounter_);
  if (!Append(pat)) return false;

  StampPacket(pmt);
  SetContinuityCounter(pmt, headerCounter_);
  if (!Append(pmt)) return false;
  return WritePcrPacket();
}

bool Multiplexer::WritePcrPacket() {
  std::uint8_t* header = buffers_->header.data();
  std::uint8_t* pcr = header + 2 * layout_.packetSize;
  // The PCR carries the clock after its own packet's stamp.
  StampPacket(pcr);
  WritePcrField(header + layout_.pcrOffset, clock_.muxClock);
  clock_.lastPcr = clock_.muxClock;
  clock_.pcrWritten = true;
  return Append(pcr);
}

bool Multiplexer::WritePcrIfDue(std::uint32_t packets) {
  if (!layout_.isTransportStream() || !clock_.pcrWritten) return true;
  // Unsigned differences keep this right across the wrap of the clock.
  const std::uint32_t nextPcr = clock_.muxClock + packets * layout_.clockStep;
  if (nextPcr - clock_.lastPcr <= kMaxPcrGap) return true;
  return WritePcrPacket();
}

bool Multiplexer::MoveClockTo(std::uint32_t time) {
  if (layout_.isTransportStream() && clock_.pcrWritten) {
    // A packet stamped at `time` must still find a PCR within reach: PCRs
    // bridge the jump, each kMaxPcrGap after the one before. A long jump
    // (video missing while audio flows on) carries the PAT and PMT too, so
    // that they stay within kMaxHeaderGap by the PCRs.
    const std::uint32_t step = layout_.clockStep;
    while (time + 2 * step - clock_.lastPcr > kMaxPcrGap) {
      // PAT, PMT and the PCR packet end on the PCR's time.
      const std::uint32_t headerAt = clock_.lastPcr + kMaxPcrGap - 3 * step;
      const bool headerDue = headerAt - clock_.lastHeaderTime > kMaxHeaderGap - kMaxPcrGap;
      clock_.muxClock = std::max(clock_.muxClock, clock_.lastPcr + kMaxPcrGap - (headerDue ? 3 : 1) * step);
      if (!headerDue) {
        if (!WritePcrPacket()) return false;
        continue;
      }
      if (!WriteHeaderMaterial()) return false;
      clock_.nextHeaderTime += kHeaderInterval;
    }
  }
  clock_.muxClock = std::max(clock_.muxClock, time);
  return true;
}

void Multiplexer::PlacePts(StreamPacketState& s, std::uint32_t pts) {
  std::uint8_t* flags = s.packetTemplate + layout_.ptsFlagsOffset;
  flags[0] = 0x80;
  WritePtsField(flags + 2, pts);
  s.ptsPlaced = true;
}

void Multiplexer::ClearPts(StreamPacketState& s) {
  std::uint8_t* flags = s.packetTemplate + layout_.ptsFlagsOffset;
  flags[0] = 0x00;
  std::fill(flags + 2, flags + 7, std::uint8_t{0xFF});
  s.ptsPlaced = false;
}

}  // namespace kelvor
