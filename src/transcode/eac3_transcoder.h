#pragma once
// E-AC-3 to AC-3 in the frequency domain: the audio blocks of independent
// E-AC-3 frames are decoded to transform coefficients and stored per stream;
// every six stored blocks are encoded again as one AC-3 syncframe (bsid 8)
// of at least twice the input's bytes per six blocks. No PCM is made.
//
// Frames of one, two or three blocks add their blocks to the same store, so
// six one-block frames give one AC-3 frame. A frame is stored whole or not
// at all: a frame rejected in its third block leaves nothing behind, so the
// store always begins at an input frame's first block and a caller that
// times frames by their time stamps can place each output frame (see
// lead_blocks).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "ac3dec/dither.h"
#include "ac3dec/frame_state.h"
#include "common/bit_reader.h"
#include "transcode/ac3_reencoder.h"
#include "transcode/block_decoder.h"
#include "transcode/block_store.h"
#include "transcode/decoded_frame.h"

namespace kelvor {

class Eac3Transcoder {
 public:
  static constexpr unsigned kStreams = 4;
  static constexpr std::size_t kMaxOutputBytes = 2560;  // the largest AC-3 frame at 48 kHz

  Eac3Transcoder() { transcoder_reset(); }

  // Empties every stream's store and reseeds the dither generator.
  void transcoder_reset();

  // Takes one whole E-AC-3 syncframe of stream 0..3 (independent substream
  // 0, 48 kHz, as the frame assembler passes them). True when this call
  // completed an AC-3 frame: it is in out (at least kMaxOutputBytes) and
  // out_bytes holds its length. False when the frame was rejected (its CRC
  // or any syntax fault; nothing of it is kept), when fewer than six blocks
  // are stored yet, or when the six blocks could not be fitted.
  [[nodiscard]] bool transcode_eac3_frame(unsigned stream, std::span<const std::uint8_t> frame,
                                          std::span<std::uint8_t> out, std::size_t& out_bytes);

  // transcode_eac3_frame in two halves that may run on two threads: the
  // first reads the frame into `decoded` (it uses only the decoding state:
  // the dither generator and the block decoder), the second stores those
  // blocks and encodes (only the stores and the re-encoder). Frames must
  // reach store_decoded_frame in the order they were decoded, and the two
  // halves must not be mixed with transcode_eac3_frame between a reset.
  void decode_eac3_frame(std::span<const std::uint8_t> frame, transcode::DecodedFrame& decoded);
  [[nodiscard]] bool store_decoded_frame(unsigned stream, const transcode::DecodedFrame& decoded,
                                         std::span<std::uint8_t> out, std::size_t& out_bytes);

  // Stores `count` (1..6) silent blocks in place of a frame that could not
  // be used, so that an output without time stamps keeps its time line;
  // like transcode_eac3_frame, true when this completed an AC-3 frame. The
  // silent blocks take the channel layout and header values of the
  // stream's last frame; before the stream's first frame nothing is stored.
  [[nodiscard]] bool transcode_silent_blocks(unsigned stream, unsigned count, std::span<std::uint8_t> out,
                                             std::size_t& out_bytes);

  // After a true result: how many of the output frame's six blocks came
  // from frames before this one. The output frame starts 256 samples per
  // such block before this frame's own start.
  unsigned lead_blocks() const { return lead_blocks_; }

  // Blocks stored for a stream and not yet output.
  unsigned stored_blocks(unsigned stream) const { return stream < kStreams ? streams_[stream].block_count : 0; }

 private:
  bool output_frame(transcode::TranscoderStream& s, const transcode::FrameMetadata& meta, std::span<std::uint8_t> out,
                    std::size_t& out_bytes);

  std::array<transcode::TranscoderStream, kStreams> streams_{};
  BitReader br_;
  Ac3Dither dither_;
  ac3::FrameState fs_;
  transcode::FrameMetadata meta_;
  transcode::BlockDecoder blocks_;
  transcode::Ac3Reencoder reencoder_;
  unsigned lead_blocks_ = 0;
};

}  // namespace kelvor
