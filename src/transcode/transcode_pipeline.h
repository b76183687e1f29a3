#pragma once
// Transcoding on two threads: the caller's thread decodes each E-AC-3 frame's
// blocks (in stream order, for the dither generator), a worker thread hands
// them, frame by frame in the same order, to a consumer that stores and
// re-encodes them (Eac3Transcoder::store_decoded_frame). The frames pass
// through a small ring of slots allocated once, so the output is exactly
// that of one thread.
#include <cstdint>
#include <functional>
#include <span>

#include "common/ordered_handoff.h"
#include "transcode/decoded_frame.h"
#include "transcode/eac3_transcoder.h"

namespace kelvor {

class Eac3TranscodePipeline {
 public:
  // Called on the worker thread with each frame and the tag given to push().
  using Consumer = std::function<void(const transcode::DecodedFrame& frame, unsigned tag)>;

  // Decodes with `transcoder`, whose stores and re-encoder only the
  // consumer may use until finish() returns.
  Eac3TranscodePipeline(Eac3Transcoder& transcoder, Consumer consumer);
  ~Eac3TranscodePipeline();
  Eac3TranscodePipeline(const Eac3TranscodePipeline&) = delete;
  Eac3TranscodePipeline& operator=(const Eac3TranscodePipeline&) = delete;

  // Decodes one frame and passes it on.
  void push(std::span<const std::uint8_t> frame, unsigned tag);

  // Waits until the consumer has had every frame and stops the worker
  // (later frames are handled on the calling thread).
  void finish();

 private:
  struct Slot {
    transcode::DecodedFrame frame;
    unsigned tag = 0;
  };

  Eac3Transcoder& transcoder_;
  Consumer consumer_;
  OrderedHandoff<Slot> handoff_;  // last: its worker calls the consumer
};

}  // namespace kelvor
