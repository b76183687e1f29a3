// libFuzzer target for Eac3Transcoder::transcode_eac3_frame.
//
// Input: one control byte, then frame bytes. Control bit 3 clear (the usual
// case): the frame is made an independent E-AC-3 frame the way the frame
// assembler passes them (sync word, cut or zero-padded to its declared
// length, fresh CRC), so that mutations reach the parsers and the AC-3
// writer behind the CRC check, and is given six times, so that frames of
// one block also reach the writer. Every AC-3 frame that comes out must
// verify. Bit 4 set: one silent block goes in after each frame. Bit 3 set:
// the bytes go in as they are. Bits 1 and 2 choose the stream index.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "ac3dec/crc16.h"
#include "ac3dec/frame_header.h"
#include "ac3dec/syncframe.h"
#include "transcode/eac3_transcoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto transcoder = std::make_unique<kelvor::Eac3Transcoder>();
  static std::array<std::uint8_t, kelvor::Eac3Transcoder::kMaxOutputBytes> out{};
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  const unsigned stream = (control >> 1) & 3u;
  transcoder->transcoder_reset();  // every input starts from the same state
  std::size_t out_bytes = 0;

  if (control & 8u) {
    transcoder->transcode_eac3_frame(stream, bytes, out, out_bytes);
    return 0;
  }
  std::vector<std::uint8_t> frame(bytes.begin(), bytes.end());
  if (frame.size() < 6) frame.resize(6, 0);
  frame[0] = 0x0B;
  frame[1] = 0x77;
  const kelvor::SyncframeInfo info = kelvor::read_syncinfo(frame);
  if (info.length < 8 || !info.eac3 || !info.independent) return 0;
  frame.resize(info.length, 0);
  kelvor::ac3_set_frame_crcs(frame, true);
  const auto check = [&] {
    if (out_bytes > out.size() || !kelvor::ac3::check_syncframe(std::span<const std::uint8_t>(out).first(out_bytes), false))
      __builtin_trap();
  };
  for (int call = 0; call < 6; ++call) {
    if (transcoder->transcode_eac3_frame(stream, frame, out, out_bytes)) check();
    if ((control & 16u) && transcoder->transcode_silent_blocks(stream, 1, out, out_bytes)) check();
  }
  return 0;
}
