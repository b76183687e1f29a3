// The packet writers: audio frames, video bytes, the stuffed last packet of a
// TS PES packet, and the end-of-run flush.
#include <algorithm>
#include <cstring>

#include "mux/multiplexer.h"
#include "mux/program_stream_headers.h"

namespace kelvor {

namespace {

constexpr std::uint32_t kPaddingHeaderSize = 6;

// An H.264 filler-data NAL unit as long as a program stream pack.
constexpr std::array<std::uint8_t, 2048> kFillerPattern = [] {
  std::array<std::uint8_t, 2048> a{};
  a.fill(0xFF);
  a[0] = 0x00;
  a[1] = 0x00;
  a[2] = 0x01;
  a[3] = 0x0C;
  return a;
}();
constexpr std::array<std::uint8_t, 8> kZeros{};
// An H.264 start code prefix and the NAL header after it.
constexpr std::uint32_t kStartCodeRoom = 4;

}  // namespace

bool Multiplexer::EmitFullPacket(StreamPacketState& s) {
  const bool ts = layout_.isTransportStream();
  std::uint8_t* packet = s.packetTemplate + (ts && s.followingInUse ? layout_.packetSize : 0);
  if (!WritePcrIfDue(2)) return false;
  WriteSubStreamCounts(s);
  StampPacket(packet);
  if (ts) SetContinuityCounter(packet, s.continuityCounter);
  if (!Append(packet)) return false;
  if (ts) {
    s.followingInUse = true;
  } else {
    // The same pack carries the next payload, without a PTS unless one is placed.
    ClearPts(s);
  }
  s.cursor = s.packetTemplate + s.contOffset;
  s.remaining = s.contSize;
  return true;
}

bool Multiplexer::CopyPayload(StreamPacketState& s, std::span<const std::uint8_t> data) {
  // A source that ends exactly at a packet boundary leaves an empty packet pending.
  while (data.size() >= s.remaining) {
    std::memcpy(s.cursor, data.data(), s.remaining);
    data = data.subspan(s.remaining);
    if (!EmitFullPacket(s)) return false;
  }
  if (data.empty()) return true;
  if (units_ != nullptr) return units_->VideoBytes(data);
  std::memcpy(s.cursor, data.data(), data.size());
  s.cursor += data.size();
  s.remaining -= static_cast<std::uint32_t>(data.size());
  return true;
}

void Multiplexer::StartNewPes(StreamPacketState& s) {
  ClearPts(s);
  s.followingInUse = false;
  s.cursor = s.packetTemplate + s.firstOffset;
  s.remaining = s.firstSize;
}

bool Multiplexer::WriteAudioFrame(std::uint32_t track, std::uint32_t ticks,
                                  std::span<const std::uint8_t> frame) {
  // A track without an output stream has nowhere to go.
  const AudioOutput* out = run_.outputForTrack(track);
  if (out == nullptr || out->slot >= audioSlots_) return true;
  if (units_ != nullptr) {
    const std::uint32_t at = clock_.trackOutTime[track];
    clock_.trackOutTime[track] += ticks;
    return units_->AudioFrame(out->slot, at, frame);
  }
  StreamPacketState& s = audio_[out->slot];

  std::uint32_t& outTime = clock_.trackOutTime[track];
  if (!s.ptsPlaced) {
    clock_.pendingPts[track] = outTime;
    if (!AdvanceClock()) return false;
    PlacePts(s, outTime);
  }
  outTime += ticks;
  NoteFrameStart(s);
  if (!CopyPayload(s, frame)) return false;

  // In TS output every audio frame is a PES packet of its own.
  if (!layout_.isTransportStream()) return true;
  if (!FlushPartialPacket(s)) return false;
  StartNewPes(s);
  return true;
}

bool Multiplexer::WriteMpegAudioFrame(std::uint32_t track, std::span<const std::uint8_t> frame,
                                      std::uint32_t ticks) {
  return WriteAudioFrame(track, ticks, frame);
}

bool Multiplexer::WriteAc3Frame(std::uint32_t privateTrack, std::span<const std::uint8_t> frame,
                                std::uint32_t ticks) {
  return WriteAudioFrame(run_.privateTrack(privateTrack), ticks, frame);
}

bool Multiplexer::PlaceVideoPts(std::uint32_t pts) {
  if (units_ != nullptr) {
    video_.ptsPlaced = true;
    return units_->VideoTime(pts);
  }
  clock_.pendingVideoPts = pts;
  if (!AdvanceClock()) return false;
  PlacePts(video_, pts);
  return true;
}

bool Multiplexer::WriteVideoBytes(std::span<const std::uint8_t> data) {
  if (data.empty()) return true;
  if (units_ != nullptr) return units_->VideoBytes(data);
  videoSinceNav_ = true;
  return CopyPayload(video_, data);
}

bool Multiplexer::FlushPartialPacket(StreamPacketState& s) {
  if (!layout_.isTransportStream()) return true;
  const std::uint32_t size = layout_.packetSize;
  const std::uint8_t* packet = s.packetTemplate + (s.followingInUse ? size : 0);
  const std::uint32_t h = layout_.contPayloadOffset - size;  // prefix + TS header
  const std::uint32_t r = s.remaining;
  if (r >= kTsPayloadSize) return true;  // an untouched following packet
  const std::uint32_t f = kTsPayloadSize - r;

  // The free bytes become an adaptation field in front of what was placed.
  std::array<std::uint8_t, 200> work{};
  std::memcpy(work.data(), packet, h);
  work[layout_.ccOffset] |= 0x20;
  work[h] = static_cast<std::uint8_t>(r - 1);
  if (r > 1) work[h + 1] = 0x00;
  if (r > 2) std::fill_n(work.data() + h + 2, r - 2, std::uint8_t{0xFF});
  std::memcpy(work.data() + h + r, packet + h, f);

  if (!WritePcrIfDue(2)) return false;
  StampPacket(work.data());
  SetContinuityCounter(work.data(), s.continuityCounter);
  return Append(work.data());
}

bool Multiplexer::EndVideoPes() {
  if (units_ != nullptr) {
    video_.ptsPlaced = false;
    return units_->EndVideoUnit();
  }
  if (!layout_.isTransportStream()) return true;
  if (!video_.followingInUse && video_.remaining == video_.firstSize) return true;
  if (!FlushPartialPacket(video_)) return false;
  StartNewPes(video_);
  return true;
}

bool Multiplexer::PadPackBeforeTimedUnit() {
  if (layout_.isTransportStream()) return true;
  const std::uint32_t r = video_.remaining;
  if (!video_.ptsPlaced) {
    // The unit's start code and NAL header must lie in the pack that carries
    // its PTS: a reader that finds them completed in the next pack gives the
    // unit that pack's PTS, which belongs to a later unit. Zero bytes may
    // come between NAL units.
    return r >= kStartCodeRoom || WriteVideoBytes(std::span(kZeros).first(r));
  }
  if (r < 6) return WriteVideoBytes(std::span(kZeros).first(r));
  return WriteVideoBytes(std::span(kFillerPattern).first(r - 1)) && WriteVideoBytes(std::span(kZeros).first(1));
}

bool Multiplexer::StartTrack(std::uint32_t track, std::uint32_t time) {
  if (track >= kMaxAudioOutputs || clock_.outTimeSet[track]) return false;
  clock_.trackOutTime[track] = time;
  clock_.outTimeSet[track] = true;
  return true;
}

bool Multiplexer::ClosePack(StreamPacketState& s, ShortRoom shortRoom) {
  const std::uint32_t r = s.remaining;
  std::uint8_t* pack = s.packetTemplate;
  WriteSubStreamCounts(s);
  if (r > 0 && r <= kPaddingHeaderSize && shortRoom == ShortRoom::HeaderStuffing) {
    // No room for a padding packet: the PES header takes the free bytes as
    // stuffing bytes, and the payload moves up behind them. Bytes added to
    // the payload would end up in the stream: after a picture's last slice
    // a decoder reads them as part of it.
    std::uint8_t* headerLength = pack + layout_.ptsFlagsOffset + 1;
    const std::uint8_t length = *headerLength;
    std::uint8_t* payload = headerLength + 1 + length;
    std::memmove(payload + r, payload, static_cast<std::size_t>(s.cursor - payload));
    std::fill_n(payload, r, std::uint8_t{0xFF});
    *headerLength = static_cast<std::uint8_t>(length + r);
    StampPacket(pack);
    const bool appended = Append(pack);
    *headerLength = length;  // the template's header, for the next pack
    return appended;
  }
  if (r > kPaddingHeaderSize) {
    const std::uint32_t pesLength = kFullPesLength - r;
    pack[18] = static_cast<std::uint8_t>(pesLength >> 8);
    pack[19] = static_cast<std::uint8_t>(pesLength);
    const std::uint32_t padding = r - kPaddingHeaderSize;
    const std::uint8_t header[] = {0x00,
                                   0x00,
                                   0x01,
                                   0xBE,
                                   static_cast<std::uint8_t>(padding >> 8),
                                   static_cast<std::uint8_t>(padding)};
    std::memcpy(s.cursor, header, sizeof header);
    std::fill_n(s.cursor + kPaddingHeaderSize, padding, std::uint8_t{0xFF});
  } else {
    // Zero bytes before the next start code: stuffing a video decoder skips.
    std::fill_n(s.cursor, r, std::uint8_t{0x00});
  }
  StampPacket(pack);
  return Append(pack);
}

bool Multiplexer::FinishOutput(bool videoOutputOn) {
  if (units_ != nullptr) return units_->Finish();
  const bool ts = layout_.isTransportStream();
  if (!ts) {
    // In TS output every audio frame was closed by its writer.
    for (std::uint32_t slot = 0; slot < audioSlots_; ++slot) {
      const AudioOutput* out = run_.outputForSlot(slot);
      if (out == nullptr) continue;
      // A stream that holds no unwritten payload has nothing to close.
      StreamPacketState& s = audio_[slot];
      if (s.remaining >= s.contSize) continue;
      if (!ClosePack(s)) return false;
    }
  }
  if (!videoOutputOn) return true;
  if (ts) return FlushPartialPacket(video_);
  if (video_.remaining >= video_.contSize) return true;
  return ClosePack(video_);
}

}  // namespace kelvor
