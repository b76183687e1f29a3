#pragma once
// The cuts of one run, planned on the video's groups of pictures and then
// carried out as a loss the user asked for: the video packets from the
// first group removed up to the next group kept are not read, the audio
// frames shown in that time are left out, and once both sides are past the
// cut the common time origin moves by the time removed, so that every
// track goes on without a gap and in step.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "common/cut_list.h"
#include "convert/conversion_events.h"
#include "convert/gop_index.h"
#include "convert/stream_timing.h"
#include "io/input_view.h"
#include "scan/track_table.h"

namespace kelvor {

struct PlannedCut {
  CutSpan asked;                 // input time, as the user gave it
  std::uint64_t videoFrom = 0;   // input offset where the video removed begins
  std::uint64_t videoTo = 0;     // where the video kept again begins (to the end: none)
  std::uint32_t from = 0;        // PTS of the first picture shown that is removed
  std::uint32_t to = 0;          // PTS of the first picture shown after it
  bool toEnd = false;            // everything after `from` is removed
  bool moved = false;            // the time origin moved past it
  bool reached = false;          // the video reached it
  std::uint32_t outputTime = 0;  // output video time where it was made
  std::uint32_t picturesSkipped = 0;
  std::array<std::uint32_t, kMaxAudioTracks> audioDropped{};  // by track table index
};

class CutPlan {
 public:
  CutPlan(const InputView& input, StreamTiming& timing) : input_(input), timing_(timing) {}

  // Places each span (in order, none touching another) on the groups of
  // the index, rounded as asked; spans that round onto the same groups
  // become one cut. The message naming a span that begins after the end of
  // the video (`where`, `unit`: how the user's list is named), or empty.
  [[nodiscard]] std::string Plan(const GopIndex& index, const std::vector<CutSpan>& spans, CutRounding rounding,
                                 std::string_view where, std::string_view unit);
  void Clear();
  bool active() const { return !cuts_.empty(); }
  const std::vector<PlannedCut>& cuts() const { return cuts_; }
  // Input time 0: the first picture shown of the first group.
  std::uint32_t zero() const { return zero_; }

  enum class VideoStep : std::uint8_t { Route, Skip, Resume };
  // A video packet at the current input position: read on, left out, or
  // the first one read after a cut (its continuity begins anew).
  VideoStep Video(bool pesStart);
  // An audio frame of track `track` (its track table index), of input time
  // `pts`, lasting `ticks`: true when it is shown inside a cut and is left out.
  bool LeavesOutAudio(std::uint32_t track, std::uint32_t pts, std::uint32_t ticks);

  // One event per cut made, in order, for the report.
  void Report(DropTracker& drops) const;
  // Input time removed by the cuts made so far, in ticks.
  std::int64_t timeRemoved() const;

 private:
  // The cut holding the frame's middle (its index), or -1. A frame past a
  // cut whose video is done moves the time origin first.
  int CutAt(std::uint32_t pts, std::uint32_t ticks);
  void Move(PlannedCut& c);

  const InputView& input_;
  StreamTiming& timing_;
  std::vector<PlannedCut> cuts_;
  std::uint32_t zero_ = 0;
  std::int64_t end_ = 0;   // input time of the last picture shown
  std::size_t video_ = 0;  // the first cut the video has not passed
};

}  // namespace kelvor
