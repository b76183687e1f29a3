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

#include "ac3dec/frame_header.h"
#include "syncframe_input.h"
#include "transcode/eac3_transcoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto transcoder = std::make_unique<kelvor::Eac3Transcoder>();
  static std::array<std::uint8_t, kelvor::Eac3Transcoder::kMaxOutputBytes> out{};
  if (size < 1) return 0;
  const kelvor::fuzz::SyncframeInput in = kelvor::fuzz::SplitInput(data, size);
  transcoder->transcoder_reset();  // every input starts from the same state
  std::size_t out_bytes = 0;

  if (in.as_is) {
    (void)transcoder->transcode_eac3_frame(in.stream, in.bytes, out, out_bytes);
    return 0;
  }
  std::vector<std::uint8_t> frame;
  const kelvor::SyncframeInfo info = kelvor::fuzz::MakeCheckedFrame(in.bytes, frame);
  if (info.length < 8 || !info.eac3 || !info.independent) return 0;
  const auto check = [&] {
    if (out_bytes > out.size() || !kelvor::ac3::check_syncframe(std::span<const std::uint8_t>(out).first(out_bytes), false))
      __builtin_trap();
  };
  for (int call = 0; call < 6; ++call) {
    if (transcoder->transcode_eac3_frame(in.stream, frame, out, out_bytes)) check();
    if ((in.control & 16u) && transcoder->transcode_silent_blocks(in.stream, 1, out, out_bytes)) check();
  }
  return 0;
}
