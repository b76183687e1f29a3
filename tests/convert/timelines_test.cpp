// The MPEG-2 picture time line and the H.264 decode-time line on their own:
// every frame rate over an hour, repeated fields, and the step patterns of
// real broadcasts that are not losses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "convert/h264_timeline.h"
#include "convert/mpeg2_timeline.h"
#include "convert/stream_timing.h"

namespace kelvor {
namespace {

struct RateCase {
  const char* name;
  std::uint32_t code;
  bool pulldown;          // 3:2: (tff, rff) = (1,1) (0,0) (0,1) (1,0) in turn
  double pictureTicks;    // display time of a picture on average
};

TEST(Mpeg2Timeline, EveryFrameRateStaysExactOverAnHour) {
  const RateCase cases[] = {
      {"23.976", 1, false, 3753.75}, {"25", 3, false, 3600.0},   {"29.97", 4, false, 3003.0},
      {"50", 6, false, 1800.0},      {"59.94", 7, false, 1501.5}, {"23.976 as 29.97 with pulldown", 4, true, 3753.75},
  };
  constexpr std::uint32_t kGop = 12;
  constexpr std::uint32_t kFirstPts = 1000000;
  for (const RateCase& c : cases) {
    SCOPED_TRACE(c.name);
    Mpeg2Timeline line;
    line.SetFrameRate(c.code, 0, 0);
    const auto pictures = static_cast<std::uint32_t>(std::llround(3600.0 * 90000.0 / c.pictureTicks));
    std::uint32_t origin = 0;
    std::int64_t moved = 0;
    double shown = 0;  // exact display time of the pictures so far
    std::uint32_t lastPts = 0;
    for (std::uint32_t k = 0; k < pictures; ++k) {
      if (k % kGop == 0) line.CloseGop();
      const auto pts = kFirstPts + static_cast<std::uint32_t>(std::llround(shown));
      const auto placed = line.Picture(k % kGop, Mpeg2Timeline::kIPicture, true, pts - origin);
      ASSERT_EQ(placed.fate, Mpeg2Timeline::Fate::Place) << "picture " << k;
      const std::int32_t d = line.TakeOriginMove();
      origin += static_cast<std::uint32_t>(d);
      moved += d;
      if (k > 0) {
        ASSERT_GT(TimeDifference(placed.pts, lastPts), 0) << "picture " << k;
      }
      lastPts = placed.pts;
      const bool rff = c.pulldown && (k % 4 == 0 || k % 4 == 2);
      const bool tff = c.pulldown && (k % 4 == 0 || k % 4 == 3);
      line.PictureDuration(false, true, tff, rff);
      shown += rff ? 4504.5 : 3003.0 * (c.pulldown ? 1.0 : c.pictureTicks / 3003.0);
    }
    line.CloseGop();
    // The time line ends where the input's pictures end, and the origin
    // only followed rounding of the stamps.
    const double end = kFirstPts + shown;
    EXPECT_NEAR(line.videoTime() + origin, end, 1.0);
    EXPECT_LE(std::llabs(moved), 1);
  }
}

TEST(Mpeg2Timeline, LostPicturesLeaveTheOutputAtTheSequenceRate) {
  Mpeg2Timeline line;
  line.SetFrameRate(7, 0, 0);  // 59.94: 1501.5 ticks a picture
  line.CloseGop();
  for (std::uint32_t tr = 0; tr < 4; ++tr) {
    const auto placed = line.Picture(tr, Mpeg2Timeline::kIPicture, true, 90000 + tr * 3003 / 2);
    EXPECT_EQ(placed.pts, 90000 + tr * 3003 / 2);
  }
  line.CloseGop();
  // Six pictures lost: the next GOP's first picture is placed where the
  // fifth would have been, and the time origin moves by the lost time.
  const auto placed = line.Picture(0, Mpeg2Timeline::kIPicture, true, 90000 + 10 * 3003 / 2);
  EXPECT_EQ(placed.pts, 90000u + 4 * 3003 / 2);
  EXPECT_EQ(line.TakeOriginMove(), 6 * 3003 / 2);
}

// Pictures of 25 fps GOPs in decode order (I2 B0 B1 P5 B3 B4 ... P11 B9
// B10), GOP g's first shown picture at g seconds and a half.
struct Coded {
  std::uint32_t gop;
  std::uint32_t tr;
};
std::vector<Coded> Gops(std::uint32_t from, std::uint32_t to) {
  std::vector<Coded> out;
  for (std::uint32_t g = from; g < to; ++g) {
    for (std::uint32_t k = 0; k < 12; ++k) out.push_back({g, k % 3 == 0 ? k + 2 : k - 1});
  }
  return out;
}

TEST(Mpeg2Timeline, BPicturesThatLostAReferenceLeaveNoHole) {
  struct LossCase {
    const char* name;
    std::vector<Coded> pictures;
    std::uint32_t skipped;
    bool pulldown = false;  // film at 29.97: pictures of 3 and 2 fields in turn
  };
  // A loss from P8 of GOP 1 to P11 of GOP 4: B6 and B7 after it lean on it.
  std::vector<Coded> inGop = Gops(0, 1);
  for (const Coded c : Gops(1, 2)) {
    if (inGop.size() < 18) inGop.push_back(c);
  }
  const std::vector<Coded> after = Gops(4, 6);
  inGop.insert(inGop.end(), after.begin() + 7, after.end());
  // A loss of GOP 2's header and I picture: its B0 and B1 lost theirs.
  std::vector<Coded> gopStart = Gops(0, 4);
  gopStart.erase(gopStart.begin() + 24);
  // A whole GOP lost: the next one follows the last picture shown, also
  // when the slots are the average of pictures of 3 and 2 fields.
  std::vector<Coded> wholeGop = Gops(0, 4);
  const std::vector<Coded> rest = Gops(5, 7);
  wholeGop.insert(wholeGop.end(), rest.begin(), rest.end());
  const LossCase cases[] = {{"inside a GOP", inGop, 2},
                            {"GOP header and I picture", gopStart, 2},
                            {"a whole GOP of film with pulldown", wholeGop, 0, true}};
  for (const LossCase& c : cases) {
    SCOPED_TRACE(c.name);
    Mpeg2Timeline line;
    if (c.pulldown) line.SetFrameRate(4, 0, 0);
    std::uint32_t origin = 0;
    std::uint32_t gop = ~0u;
    std::uint32_t skipped = 0;
    std::vector<std::uint32_t> shown;
    for (const Coded p : c.pictures) {
      // Film: the even pictures in display order are shown for 3 fields.
      const std::uint32_t n = p.gop * 12 + p.tr;
      const std::uint32_t stamp = c.pulldown ? 45000 + n / 2 * 7507 + n / 4 + (n % 2) * 4504 + n % 4 / 3
                                             : 45000 + n * 3600;
      const std::uint32_t type = p.tr % 3 == 2 ? (p.tr == 2 ? Mpeg2Timeline::kIPicture : Mpeg2Timeline::kPPicture)
                                               : Mpeg2Timeline::kBPicture;
      if (line.restartTr() != 0 && !shown.empty() && shown.back() == 0) {
        // The held picture goes out before the next one is placed.
        const bool leading = line.IsLeading(p.tr, true, stamp - origin);
        shown.back() = line.Release(leading ? p.tr : line.restartTr());
        origin += static_cast<std::uint32_t>(line.TakeOriginMove());
      }
      if (p.gop != gop && (p.tr == 2 || gop == ~0u)) line.CloseGop();
      gop = p.gop;
      const auto placed = line.Picture(p.tr, type, true, stamp - origin);
      origin += static_cast<std::uint32_t>(line.TakeOriginMove());
      if (placed.fate == Mpeg2Timeline::Fate::Skip) ++skipped;
      if (placed.fate == Mpeg2Timeline::Fate::Place) shown.push_back(placed.pts);
      if (placed.fate == Mpeg2Timeline::Fate::Hold) shown.push_back(0);
      if (c.pulldown) line.PictureDuration(false, true, n % 4 == 0 || n % 4 == 3, n % 2 == 0);
    }
    EXPECT_EQ(skipped, c.skipped);
    std::sort(shown.begin(), shown.end());
    // With pulldown the slots settle in the first GOP (output begins later).
    for (std::size_t k = c.pulldown ? 13 : 1; k < shown.size(); ++k) {
      if (c.pulldown) {
        ASSERT_LE(shown[k] - shown[k - 1], 4505u) << "picture " << k;
      } else {
        ASSERT_EQ(shown[k] - shown[k - 1], 3600u) << "picture " << k;
      }
    }
  }
}

struct DecodeCase {
  const char* name;
  // Decode times in ticks; -1 is an access unit without a time stamp, -N
  // (N > 1) a parameter set that declares frames of N ticks.
  std::vector<std::int64_t> times;
  std::int32_t moved;  // the origin's move in all
};

std::vector<std::int64_t> Steps(std::int64_t from, std::int64_t step, int count) {
  std::vector<std::int64_t> out;
  for (int k = 0; k < count; ++k) out.push_back(from + k * step);
  return out;
}

std::vector<std::int64_t> Join(std::vector<std::int64_t> a, const std::vector<std::int64_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(H264Timeline, OnlyARealLossMovesTheOrigin) {
  std::vector<std::int64_t> early = Steps(0, 3600, 40);
  early[20] -= 1800;  // one decode time half a frame early
  std::vector<std::int64_t> secondFieldUntimed;
  for (int k = 0; k < 50; ++k) secondFieldUntimed.insert(secondFieldUntimed.end(), {k * 3600, -1});
  std::vector<std::int64_t> repeated = Steps(0, 3600, 20);
  repeated[10] = repeated[9];
  for (std::size_t k = 11; k < repeated.size(); ++k) repeated[k] -= 3600;
  const DecodeCase cases[] = {
      {"steady 25 Hz", Steps(0, 3600, 100), 0},
      {"field pairs, every field timed", Steps(0, 1800, 100), 0},
      {"field pairs, second field untimed", secondFieldUntimed, 0},
      {"50 Hz then 25 Hz", Join(Steps(0, 1800, 150), Steps(150 * 1800, 3600, 150)), 0},
      {"25 Hz then 50 Hz", Join(Steps(0, 3600, 75), Steps(75 * 3600, 1800, 150)), 0},
      {"half a frame early", early, 0},
      {"ten frames lost", Join(Steps(0, 3600, 30), Steps(40 * 3600, 3600, 30)), 10 * 3600},
      {"a decode time repeated", repeated, -3600},
      {"declared: a loss at the first step", {-3600, 0, 11 * 3600, 12 * 3600}, 10 * 3600},
      {"declared frames, field access units", Join({-3600}, Steps(0, 1800, 100)), 0},
      {"declared 50 Hz then 25 Hz, ten frames lost just after",
       Join(Join(Join({-1800}, Steps(0, 1800, 40)), Join({-3600}, Steps(73800, 3600, 3))),
            Steps(81000 + 11 * 3600, 3600, 3)),
       10 * 3600},
  };
  for (const DecodeCase& c : cases) {
    SCOPED_TRACE(c.name);
    H264Timeline line;
    std::uint32_t origin = 0;
    std::int32_t moved = 0;
    for (const std::int64_t t : c.times) {
      if (t < -1) {
        line.DeclareFrameTicks(static_cast<std::uint32_t>(-t));
        continue;
      }
      if (t < 0) {
        line.Untimed();
        continue;
      }
      line.Timed(static_cast<std::uint32_t>(t) - origin);
      const std::int32_t d = line.TakeOriginMove();
      origin += static_cast<std::uint32_t>(d);
      moved += d;
    }
    EXPECT_EQ(moved, c.moved);
  }
}

}  // namespace
}  // namespace kelvor
