#pragma once
// Decoding on two threads: the caller's thread runs the first half of the
// decoder (parsing, mantissas, coupling: in stream order, for the dither
// generator), a worker thread the second half (transforms and fold-down) and
// hands the samples to a sink, frame by frame in stream order. The frames
// pass through a small ring of slots allocated once. The samples and the
// decoder's state come out exactly as with ac3_decode_frame.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "ac3dec/ac3_decoder.h"
#include "common/ordered_handoff.h"
#include "common/q24.h"

namespace kelvor {

class Ac3DecodePipeline {
 public:
  // Called on the worker thread with one frame's samples (or its silence).
  using Sink = std::function<void(std::span<const Q24> left, std::span<const Q24> right)>;

  // Decodes with `decoder` (delay lines of `stream`), which must not be used
  // elsewhere until finish() returns.
  Ac3DecodePipeline(Ac3Decoder& decoder, unsigned stream, Sink sink);
  ~Ac3DecodePipeline();
  Ac3DecodePipeline(const Ac3DecodePipeline&) = delete;
  Ac3DecodePipeline& operator=(const Ac3DecodePipeline&) = delete;

  // The first half of one frame; returns what ac3_decode_frame would. The
  // frame then waits for send().
  unsigned decode(std::span<const std::uint8_t> frame, std::uint8_t eac3);

  // Passes the frame of the last decode() on: the sink gets its samples if
  // it was decoded, otherwise `silent_blocks` blocks of silence (none for a
  // frame that must leave no trace in the output). Either way the blocks
  // decoded before a fault go through the delay lines.
  void send(unsigned silent_blocks);

  // Sends a frame still waiting, waits until the sink has had every frame,
  // and stops the worker (later frames are decoded on the calling thread).
  void finish();

 private:
  struct Slot {
    std::array<Ac3BlockSpectrum, ac3::kMaxBlocks> blocks;
    unsigned ready = 0;    // blocks with coefficients
    unsigned decoded = 0;  // blocks of output, 0 when rejected
    unsigned silent = 0;
  };

  // The second half of one frame and its samples to the sink.
  void deliver(Slot& slot);

  Ac3Decoder& decoder_;
  const unsigned stream_;
  Sink sink_;
  std::vector<Q24> left_;
  std::vector<Q24> right_;
  Slot* pending_ = nullptr;  // decode() called, send() not yet
  OrderedHandoff<Slot> handoff_;  // last: its worker uses all of the above
};

}  // namespace kelvor
