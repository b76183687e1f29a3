#include "ac3dec/decode_pipeline.h"

#include <algorithm>
#include <utility>

namespace kelvor {

Ac3DecodePipeline::Ac3DecodePipeline(Ac3Decoder& decoder, unsigned stream, Sink sink)
    : decoder_(decoder),
      stream_(stream),
      sink_(std::move(sink)),
      left_(Ac3Decoder::kMaxSamples),
      right_(Ac3Decoder::kMaxSamples),
      handoff_([this](Slot& slot) { deliver(slot); }) {}

Ac3DecodePipeline::~Ac3DecodePipeline() { finish(); }

unsigned Ac3DecodePipeline::decode(std::span<const std::uint8_t> frame, std::uint8_t eac3) {
  send(0);
  Slot& slot = handoff_.slot();
  slot.decoded = decoder_.ac3_decode_coefficients(frame, eac3, slot.blocks, slot.ready);
  pending_ = &slot;
  return slot.decoded;
}

void Ac3DecodePipeline::send(unsigned silent_blocks) {
  if (pending_ == nullptr) return;
  pending_->silent = std::min<unsigned>(silent_blocks, ac3::kMaxBlocks);
  pending_ = nullptr;
  handoff_.send();
}

void Ac3DecodePipeline::finish() {
  send(0);
  handoff_.finish();
}

void Ac3DecodePipeline::deliver(Slot& slot) {
  for (unsigned b = 0; b < slot.ready; ++b) {
    const std::size_t at = b * Ac3Decoder::kSamplesPerBlock;
    decoder_.ac3_synthesize_block(stream_, slot.blocks[b], std::span(left_).subspan(at).first<256>(),
                                  std::span(right_).subspan(at).first<256>());
  }
  std::size_t samples = slot.decoded * Ac3Decoder::kSamplesPerBlock;
  if (slot.decoded == 0 && slot.silent != 0) {
    samples = slot.silent * Ac3Decoder::kSamplesPerBlock;
    std::fill_n(left_.begin(), samples, 0);
    std::fill_n(right_.begin(), samples, 0);
  }
  if (samples != 0) sink_(std::span<const Q24>(left_).first(samples), std::span<const Q24>(right_).first(samples));
}

}  // namespace kelvor
