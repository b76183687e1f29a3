#include "transcode/transcode_pipeline.h"

#include <system_error>
#include <utility>

namespace kelvor {

Eac3TranscodePipeline::Eac3TranscodePipeline(Eac3Transcoder& transcoder, Consumer consumer)
    : transcoder_(transcoder), consumer_(std::move(consumer)), slots_(std::make_unique<std::array<Slot, kRing>>()) {
  try {
    worker_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    // No second thread to be had: push() hands each frame on itself.
  }
}

Eac3TranscodePipeline::~Eac3TranscodePipeline() { finish(); }

void Eac3TranscodePipeline::push(std::span<const std::uint8_t> frame, unsigned tag) {
  if (!worker_.joinable()) {
    Slot& slot = (*slots_)[0];
    transcoder_.decode_eac3_frame(frame, slot.frame);
    consumer_(slot.frame, tag);
    return;
  }
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
  transcoder_.decode_eac3_frame(frame, slot.frame);
  slot.tag = tag;
  bool wake = false;
  {
    std::lock_guard lock(mutex_);
    ++sent_;
    wake = worker_waits_ && sent_ - finished_ >= kBatch;
  }
  if (wake) work_.notify_one();
}

void Eac3TranscodePipeline::finish() {
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  work_.notify_one();
  worker_.join();
}

void Eac3TranscodePipeline::run() {
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
    const Slot& slot = (*slots_)[next % kRing];
    consumer_(slot.frame, slot.tag);
    bool wake = false;
    {
      std::lock_guard lock(mutex_);
      finished_ = ++next;
      wake = producer_waits_ && kRing - (sent_ - finished_) >= kBatch;
    }
    if (wake) space_.notify_one();
  }
}

}  // namespace kelvor
