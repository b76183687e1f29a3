#include "transcode/transcode_pipeline.h"

#include <utility>

namespace kelvor {

Eac3TranscodePipeline::Eac3TranscodePipeline(Eac3Transcoder& transcoder, Consumer consumer)
    : transcoder_(transcoder),
      consumer_(std::move(consumer)),
      handoff_([this](Slot& slot) { consumer_(slot.frame, slot.tag); }) {}

Eac3TranscodePipeline::~Eac3TranscodePipeline() { finish(); }

void Eac3TranscodePipeline::push(std::span<const std::uint8_t> frame, unsigned tag) {
  Slot& slot = handoff_.slot();
  transcoder_.decode_eac3_frame(frame, slot.frame);
  slot.tag = tag;
  handoff_.send();
}

void Eac3TranscodePipeline::finish() { handoff_.finish(); }

}  // namespace kelvor
