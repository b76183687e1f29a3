// The packet writers' part of DVD output: navigation packs at the start of
// each video object unit, and the counts in the AC-3 sub-stream header.

#include "mux/multiplexer.h"
#include "mux/program_stream_headers.h"

namespace kelvor {

bool Multiplexer::StartVideoUnit() {
  if (!layout_.isDvd()) return true;
  StreamPacketState& s = video_;
  if (s.remaining < s.contSize) {
    // Zero bytes before the next start code are stuffing a video decoder skips.
    if (!ClosePack(s, ShortRoom::ZeroBytes)) return false;
    s.packetTemplate[18] = static_cast<std::uint8_t>(kFullPesLength >> 8);
    s.packetTemplate[19] = static_cast<std::uint8_t>(kFullPesLength);
    ClearPts(s);
    s.cursor = s.packetTemplate + s.contOffset;
    s.remaining = s.contSize;
  }
  // The navigation pack that opened the output also opens the first unit.
  if (navWritten_ && !videoSinceNav_) return true;
  return WriteNavPack();
}

bool Multiplexer::WriteNavPack() {
  std::uint8_t* nav = buffers_->nav.data();
  StampPacket(nav);
  navWritten_ = true;
  videoSinceNav_ = false;
  return Append(nav);
}

void Multiplexer::NoteFrameStart(StreamPacketState& s) {
  if (!layout_.isDvd() || !s.subStreamHeader) return;
  // Counted from the pointer field's last byte: the first payload byte is 1.
  if (s.framesStarted == 0) {
    s.firstFramePointer = static_cast<std::uint16_t>(s.cursor - (s.packetTemplate + s.contOffset) + 1);
  }
  if (s.framesStarted < 0xFF) ++s.framesStarted;
}

void Multiplexer::WriteSubStreamCounts(StreamPacketState& s) {
  if (!layout_.isDvd() || !s.subStreamHeader) return;
  std::uint8_t* counts = s.packetTemplate + s.contOffset - 3;
  counts[0] = s.framesStarted;
  counts[1] = static_cast<std::uint8_t>(s.firstFramePointer >> 8);
  counts[2] = static_cast<std::uint8_t>(s.firstFramePointer);
  s.framesStarted = 0;
  s.firstFramePointer = 0;
}

}  // namespace kelvor
