#include "ac3dec/decode_pipeline.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace kelvor {

Ac3DecodePipeline::Ac3DecodePipeline(Ac3Decoder& decoder, unsigned stream, Sink sink)
    : decoder_(decoder),
      stream_(stream),
      sink_(std::move(sink)),
      slots_(std::make_unique<std::array<Slot, kRing>>()),
      left_(Ac3Decoder::kMaxSamples),
      right_(Ac3Decoder::kMaxSamples) {
  try {
    worker_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No second thread to be had: send() does the second half itself.
  }
}

Ac3DecodePipeline::~Ac3DecodePipeline() { finish(); }

unsigned Ac3DecodePipeline::decode(std::span<const std::uint8_t> frame, std::uint8_t eac3) {
  if (pending_) send(0);
  {
    // The slot after the last one sent is ours once the worker has left it.
    // A full ring waits for several free slots, not one: fewer wake-ups.
    std::unique_lock lock(mutex_);
    if (sent_ - finished_ == kRing) {
      producer_waits_ = true;
      space_.wait(lock, [this] { return kRing - (sent_ - finished_) >= kBatch; });
      producer_waits_ = false;
    }
  }
  Slot& slot = (*slots_)[sent_ % kRing];
  slot.decoded = decoder_.ac3_decode_coefficients(frame, eac3, slot.blocks, slot.ready);
  pending_ = true;
  return slot.decoded;
}

void Ac3DecodePipeline::send(unsigned silent_blocks) {
  if (!pending_) return;
  Slot& slot = (*slots_)[sent_ % kRing];
  slot.silent = std::min<unsigned>(silent_blocks, ac3::kMaxBlocks);
  pending_ = false;
  if (!worker_.joinable()) {
    deliver(slot);
    return;
  }
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    ++sent_;
    wake = worker_waits_ && sent_ - finished_ >= kBatch;
  }
  if (wake) work_.notify_one();
}

void Ac3DecodePipeline::finish() {
  if (pending_) send(0);
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  work_.notify_one();
  worker_.join();
}

void Ac3DecodePipeline::run() {
  std::uint64_t next = 0;
  for (;;) {
    {
      // An empty ring waits for a batch of frames (or the end).
      std::unique_lock lock(mutex_);
      if (next == sent_) {
        worker_waits_ = true;
        work_.wait(lock, [&] { return sent_ - next >= kBatch || closing_; });
        worker_waits_ = false;
        if (next == sent_) return;
      }
    }
    deliver((*slots_)[next % kRing]);
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      finished_ = ++next;
      wake = producer_waits_ && kRing - (sent_ - finished_) >= kBatch;
    }
    if (wake) space_.notify_one();
  }
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
