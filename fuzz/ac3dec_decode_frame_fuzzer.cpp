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
#include <span>
#include <vector>

#include "ac3dec/ac3_decoder.h"
#include "ac3dec/crc16.h"
#include "ac3dec/syncframe.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const auto decoder = std::make_unique<kelvor::Ac3Decoder>();
  static std::vector<kelvor::Q24> left(kelvor::Ac3Decoder::kMaxSamples);
  static std::vector<kelvor::Q24> right(kelvor::Ac3Decoder::kMaxSamples);
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  const unsigned stream = (control >> 1) & 3u;
  decoder->ac3_decoder_init();  // every input starts from the same state

  if (control & 8u) {
    decoder->ac3_decode_frame(stream, bytes, control & 1u, left, right);
    return 0;
  }
  std::vector<std::uint8_t> frame(bytes.begin(), bytes.end());
  if (frame.size() < 6) frame.resize(6, 0);
  frame[0] = 0x0B;
  frame[1] = 0x77;
  const kelvor::SyncframeInfo info = kelvor::read_syncinfo(frame);
  if (info.length == 0) return 0;
  frame.resize(info.length, 0);
  kelvor::ac3_set_frame_crcs(frame, info.eac3);
  // Twice: the second call overlaps with the first one's delay lines.
  decoder->ac3_decode_frame(stream, frame, info.eac3 ? 1 : 0, left, right);
  decoder->ac3_decode_frame(stream, frame, info.eac3 ? 1 : 0, left, right);
  return 0;
}
