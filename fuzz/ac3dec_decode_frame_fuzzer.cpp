// libFuzzer target for Ac3Decoder::ac3_decode_frame.
//
// Input: one control byte, then frame bytes. Control bit 3 clear (the usual
// case): the frame is cut or zero-padded to the length its header declares
// and given fresh CRCs, so that mutations reach the parsers behind the CRC
// check. Bit 3 set: the bytes go to the decoder as they are, with the
// E-AC-3 flag from bit 0. Bits 1 and 2 choose the stream index.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "ac3dec/ac3_decoder.h"
#include "syncframe_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto decoder = std::make_unique<kelvor::Ac3Decoder>();
  static std::vector<kelvor::Q24> left(kelvor::Ac3Decoder::kMaxSamples);
  static std::vector<kelvor::Q24> right(kelvor::Ac3Decoder::kMaxSamples);
  if (size < 1) return 0;
  const kelvor::fuzz::SyncframeInput in = kelvor::fuzz::SplitInput(data, size);
  decoder->ac3_decoder_init();  // every input starts from the same state

  if (in.as_is) {
    decoder->ac3_decode_frame(in.stream, in.bytes, in.control & 1u, left, right);
    return 0;
  }
  std::vector<std::uint8_t> frame;
  const kelvor::SyncframeInfo info = kelvor::fuzz::MakeCheckedFrame(in.bytes, frame);
  if (info.length == 0) return 0;
  // Twice: the second call overlaps with the first one's delay lines.
  decoder->ac3_decode_frame(in.stream, frame, info.eac3 ? 1 : 0, left, right);
  decoder->ac3_decode_frame(in.stream, frame, info.eac3 ? 1 : 0, left, right);
  return 0;
}
