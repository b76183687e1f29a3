#include "convert/gop_index.h"

#include "common/ts_packet.h"
#include "convert/stream_timing.h"
#include "io/input_view.h"

namespace kelvor {
namespace {

constexpr std::uint8_t kSequenceHeader = 0xB3;
constexpr std::uint8_t kGroupStart = 0xB8;
constexpr std::uint8_t kPictureStart = 0x00;
constexpr std::uint8_t kNalIdrSlice = 5;
constexpr std::uint8_t kNalSlice = 1;
constexpr std::uint8_t kNalSei = 6;
constexpr std::uint8_t kNalSps = 7;
constexpr std::uint8_t kSeiRecoveryPoint = 6;

}  // namespace

bool GopIndex::BeginsRandomAccess(std::span<const std::uint8_t> head, bool h264) {
  // The start codes before the first picture (slice) of the payload decide.
  for (std::size_t k = 0; k + 4 < head.size(); ++k) {
    if (head[k] != 0 || head[k + 1] != 0 || head[k + 2] != 1) continue;
    const std::uint8_t value = head[k + 3];
    if (!h264) {
      if (value == kSequenceHeader || value == kGroupStart) return true;
      if (value == kPictureStart) return false;
      continue;
    }
    const std::uint8_t type = value & 0x1F;
    if (type == kNalIdrSlice || type == kNalSps) return true;
    if (type == kNalSei && head[k + 4] == kSeiRecoveryPoint) return true;
    if (type == kNalSlice) return false;
  }
  return false;
}

void GopIndex::Picture(std::uint32_t pts) {
  if (!anyPts_ || TimeDifference(pts, lastPts_) > 0) lastPts_ = pts;
  anyPts_ = true;
  if (gops_.empty()) return;
  GopEntry& g = gops_.back();
  if (!open_ || TimeDifference(pts, g.displayStart) < 0) g.displayStart = pts;
  open_ = true;
}

bool GopIndex::Build(InputView& input, std::uint32_t videoPid, bool h264) {
  gops_.clear();
  h264_ = h264;
  gops_.reserve(4096);
  open_ = anyPts_ = false;
  std::uint32_t size = 0;  // of a packet, once in sync
  for (;;) {
    // The last packets lie beyond the view's margin: read up to the file's end.
    if (input.endOfInput() && (size == 0 || input.position() + kTsPacketBytes > input.fileSize())) break;
    if (size == 0 || !input.isSyncByteAt(0)) {
      size = input.packetSizeHere();
      if (size == 0) {
        if (!input.advance(1)) return false;
        continue;
      }
    }
    const std::uint8_t* p = input.readPtr();
    TsHeader h;
    if (ReadTsHeader(p, h) && h.pid == videoPid && h.unitStart && IsPesStart(p, h)) {
      const PesStart pes = ReadPesStart(p, h);
      if (pes.payloadStart < kTsPacketBytes &&
          BeginsRandomAccess({p + pes.payloadStart, kTsPacketBytes - pes.payloadStart}, h264)) {
        // A group without any time stamp cannot be placed: the next one replaces it.
        if (!gops_.empty() && !open_) gops_.pop_back();
        gops_.push_back({input.position(), pes.pts, pes.pts, pes.ptsValid});
        open_ = false;
      }
      if (pes.ptsValid) Picture(pes.pts);
    }
    if (!input.advance(size)) return false;
  }
  // A group without any time stamp cannot be placed.
  if (!gops_.empty() && !open_) gops_.pop_back();
  return true;
}

}  // namespace kelvor
