#pragma once
// Hands items from the calling thread to one worker thread, in the order
// they were filled, through a small ring of slots allocated once: the caller
// fills slot() and send()s it, the worker passes each slot to the consumer.
// Either thread that waits (a full ring, an empty one) sleeps until a batch
// of slots or items is ready, not one: fewer wake-ups. The waits are a mutex
// and condition variables, not the C++ library's atomic wait, which loses
// wake-ups with MinGW's GCC 12.
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace kelvor {

template <class Slot>
class OrderedHandoff {
 public:
  static constexpr std::size_t kSlots = 16;  // items in flight: rides out the consumer's large writes
  static constexpr std::size_t kBatch = kSlots / 2;
  // Called on the worker thread with each slot sent, in order; the slot is
  // the consumer's until it returns.
  using Consumer = std::function<void(Slot&)>;

  explicit OrderedHandoff(Consumer consumer)
      : consumer_(std::move(consumer)), slots_(std::make_unique<std::array<Slot, kSlots>>()) {
    try {
      worker_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      // No second thread to be had: send() consumes on the calling thread.
    }
  }
  ~OrderedHandoff() { finish(); }
  OrderedHandoff(const OrderedHandoff&) = delete;
  OrderedHandoff& operator=(const OrderedHandoff&) = delete;

  // The slot to fill next, once the worker has left it; the same slot until
  // send().
  Slot& slot() {
    std::unique_lock lock(mutex_);
    if (sent_ - finished_ == kSlots) {
      producer_waits_ = true;
      space_.wait(lock, [this] { return kSlots - (sent_ - finished_) >= kBatch; });
      producer_waits_ = false;
    }
    return (*slots_)[sent_ % kSlots];
  }

  // Passes the filled slot on to the consumer.
  void send() {
    if (!worker_.joinable()) {
      consumer_((*slots_)[sent_ % kSlots]);
      finished_ = ++sent_;
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

  // Waits until the consumer has had every slot sent and stops the worker;
  // later slots are consumed on the calling thread.
  void finish() {
    if (!worker_.joinable()) return;
    {
      std::lock_guard lock(mutex_);
      closing_ = true;
    }
    work_.notify_one();
    worker_.join();
  }

 private:
  void run() {
    std::uint64_t next = 0;
    for (;;) {
      {
        std::unique_lock lock(mutex_);
        if (next == sent_) {
          worker_waits_ = true;
          work_.wait(lock, [&] { return sent_ - next >= kBatch || closing_; });
          worker_waits_ = false;
          if (next == sent_) return;
        }
      }
      consumer_((*slots_)[next % kSlots]);
      bool wake = false;
      {
        std::lock_guard lock(mutex_);
        finished_ = ++next;
        wake = producer_waits_ && kSlots - (sent_ - finished_) >= kBatch;
      }
      if (wake) space_.notify_one();
    }
  }

  Consumer consumer_;
  std::unique_ptr<std::array<Slot, kSlots>> slots_;
  std::mutex mutex_;
  std::condition_variable space_;  // slots became free
  std::condition_variable work_;   // items were sent, or closing_ set
  std::uint64_t sent_ = 0;         // items handed to the worker
  std::uint64_t finished_ = 0;     // items the worker is done with
  bool closing_ = false;
  bool producer_waits_ = false;
  bool worker_waits_ = false;
  std::thread worker_;  // last: started once everything above is built
};

}  // namespace kelvor
