#pragma once
// Where the video of an input can be cut: each random-access point (an
// MPEG-2 sequence or GOP header, an H.264 IDR access unit, a recovery point
// or a sequence parameter set at the start of a PES packet) with the input
// offset of the packet that begins its PES packet, and the time its group
// of pictures is first shown (the lowest PTS of its pictures, leading B
// pictures included). Made by one read of the video packets before a run
// with cuts.
#include <cstdint>
#include <span>
#include <vector>

namespace kelvor {

class InputView;

struct GopEntry {
  std::uint64_t offset = 0;        // of the TS packet that begins the random-access point's PES
  std::uint32_t displayStart = 0;  // PTS of the group's first picture shown
  std::uint32_t accessPts = 0;     // PTS of the random-access picture itself
  bool accessTimed = false;        // its PES packet had one (else: displayStart)
};

class GopIndex {
 public:
  // Reads the open input from where it stands to its end (the view is left
  // at the end). False when the input could not be read.
  [[nodiscard]] bool Build(InputView& input, std::uint32_t videoPid, bool h264);

  const std::vector<GopEntry>& gops() const { return gops_; }
  // PTS of the last picture shown, once one was seen.
  std::uint32_t lastPts() const { return lastPts_; }
  bool h264() const { return h264_; }

  // Whether a PES payload's head begins a random-access point.
  static bool BeginsRandomAccess(std::span<const std::uint8_t> head, bool h264);

 private:
  void Picture(std::uint32_t pts);

  std::vector<GopEntry> gops_;
  bool open_ = false;  // a group has begun and has a time
  std::uint32_t lastPts_ = 0;
  bool anyPts_ = false;
  bool h264_ = false;
};

}  // namespace kelvor
