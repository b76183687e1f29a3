// libFuzzer target for the Matroska writer and the stream headers it reads:
// the units of one track go through the whole muxer (parameter sets,
// sequence and ADTS headers read for the track entry, start codes turned
// into lengths, clusters, cues), and the same bytes reach the readers of
// the LATM configuration and the subtitling descriptor.
//
// Input: one control byte, then the bytes. Bits 0-3 choose the track's
// codec; bits 4-7 cut the bytes into units of 64 * (1 + bits 4-7) bytes, each
// a second of output time after the last, every third one a key frame.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "matroska/aac_config.h"
#include "matroska/dvb_subtitle_config.h"
#include "matroska/matroska_muxer.h"

namespace {

class NullSink : public kelvor::PacketSink {
 public:
  bool AppendPacket(std::span<const std::uint8_t>) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static NullSink sink;
  static kelvor::mkv::MatroskaMuxer mux(sink);  // its buffers are taken once
  const std::uint8_t control = data[0];
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);

  std::array<std::uint8_t, 64> asc{};
  (void)kelvor::mkv::AscFromLatm(bytes, asc);
  kelvor::mkv::DvbSubtitleEntry entry;
  (void)kelvor::mkv::ReadDvbSubtitleEntry(bytes, entry);

  mux.Reset();
  kelvor::mkv::TrackSetup setup;
  setup.codec = static_cast<kelvor::mkv::TrackCodec>((control & 0x0F) % 14);
  const std::uint32_t track = mux.AddTrack(setup);
  const std::size_t piece = 64 * (1 + (control >> 4));
  std::int64_t pts = 0;
  for (std::size_t pos = 0, n = 0; pos < bytes.size(); pos += piece, ++n) {
    const auto unit = bytes.subspan(pos, std::min(piece, bytes.size() - pos));
    if (!mux.WriteUnit(track, pts, n % 3 == 0, unit)) __builtin_trap();
    pts += 90000;
  }
  if (!mux.Finish()) __builtin_trap();
  return 0;
}
