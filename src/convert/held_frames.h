#pragma once
// Audio frames kept back after one that came late. When the frames after a
// loss arrive before the picture after it, a late frame cannot tell whether
// sound alone was lost (the gap is filled) or picture and sound together (the
// picture's time line closes the gap, and filling it would put sound where
// the picture no longer is). The frames wait here until the video has placed
// its next time stamp, or until the store is full.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kelvor {

class HeldFrames {
 public:
  static constexpr std::uint32_t kCapacity = 16;

  struct Entry {
    std::span<const std::uint8_t> bytes;
    std::uint32_t pts = 0;
    bool timed = false;  // the frame has a time stamp of its own
  };

  explicit HeldFrames(std::uint32_t maxFrameBytes)
      : maxBytes_(maxFrameBytes), store_(std::size_t{kCapacity} * maxFrameBytes) {}

  bool empty() const { return count_ == 0; }
  bool full() const { return count_ == kCapacity; }
  std::uint32_t size() const { return count_; }
  void clear() { count_ = 0; }

  // Only when not full, and `frame` no longer than maxFrameBytes.
  void push(std::span<const std::uint8_t> frame, std::uint32_t pts, bool timed) {
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(frame.size(), maxBytes_));
    std::copy_n(frame.begin(), n, store_.begin() + std::ptrdiff_t{count_} * maxBytes_);
    meta_[count_] = {n, pts, timed};
    ++count_;
  }

  Entry operator[](std::uint32_t k) const {
    const Meta& m = meta_[k];
    return {std::span(store_).subspan(std::size_t{k} * maxBytes_, m.length), m.pts, m.timed};
  }

 private:
  struct Meta {
    std::uint32_t length = 0;
    std::uint32_t pts = 0;
    bool timed = false;
  };
  std::uint32_t maxBytes_;
  std::vector<std::uint8_t> store_;
  std::array<Meta, kCapacity> meta_{};
  std::uint32_t count_ = 0;
};

}  // namespace kelvor
