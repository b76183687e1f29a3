// The hand-off between the calling thread and its worker: every item arrives
// once, in order, and no slot is refilled while the worker still reads it,
// whether the ring runs full (slow consumer) or empty (slow producer).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "common/ordered_handoff.h"

namespace kelvor {
namespace {

TEST(OrderedHandoff, DeliversEveryItemInOrderWhicheverSideIsSlower) {
  using Slot = std::array<std::uint64_t, 32>;  // every word the item's number
  struct Case {
    std::uint64_t items;
    bool slow_consumer;
  };
  for (const Case c : {Case{0, false}, Case{1, true}, Case{7, true}, Case{83, true}, Case{83, false}}) {
    SCOPED_TRACE(testing::Message() << c.items << (c.slow_consumer ? " slow consumer" : " slow producer"));
    const auto pause = [] { std::this_thread::sleep_for(std::chrono::microseconds(200)); };
    std::vector<std::uint64_t> seen;
    std::vector<std::thread::id> threads;
    bool torn = false;
    OrderedHandoff<Slot> handoff([&](const Slot& slot) {
      const std::uint64_t first = slot[0];
      if (c.slow_consumer) pause();
      torn = torn || std::any_of(slot.begin(), slot.end(), [&](std::uint64_t v) { return v != first; });
      seen.push_back(first);
      threads.push_back(std::this_thread::get_id());
    });
    const auto put = [&](std::uint64_t n) {
      handoff.slot().fill(n);
      handoff.send();
    };
    for (std::uint64_t n = 0; n < c.items; ++n) {
      if (!c.slow_consumer) pause();
      put(n);
    }
    // A finish drains what was sent (a part of a batch included); a slot
    // sent later is consumed at once on the calling thread.
    handoff.finish();
    ASSERT_EQ(seen.size(), c.items);
    put(c.items);
    ASSERT_EQ(seen.size(), c.items + 1);
    EXPECT_EQ(threads.back(), std::this_thread::get_id());
    EXPECT_EQ(std::count(threads.begin(), threads.end(), std::this_thread::get_id()), 1);
    for (std::uint64_t n = 0; n < seen.size(); ++n) EXPECT_EQ(seen[n], n);
    EXPECT_FALSE(torn);
  }
}

}  // namespace
}  // namespace kelvor
