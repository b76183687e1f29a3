#pragma once
// What a conversion did at each discontinuity of its input, for front ends
// that report it (the command line's --report and -v). The handlers and the
// driver note what they see in a DropTracker (a single line where each one
// handles a loss); the tracker folds the notes of one drop into one event
// and hands it to the listener when the next drop begins or the run ends.
// Nothing here allocates or prints; with no tracker set, nothing is noted.
#include <array>
#include <cstdint>

#include "io/input_view.h"
#include "scan/track_table.h"

namespace kelvor {

enum class DropKind : std::uint8_t {
  VideoLoss,   // video (and usually audio) lost: the time line was closed up
  AudioLoss,   // sound alone lost: frames were repeated or dropped to keep step
  Jump,        // the time stamps jumped by more than 10 s: the conversion ended
  Repeat,      // packets sent twice: the copies were left out
  Cut,         // a span the user asked to remove: every track left it out
};

struct DropEvent {
  DropKind kind = DropKind::Repeat;
  std::uint64_t inputOffset = 0;  // where the discontinuity was first seen
  std::uint32_t inputTime = 0;    // ticks of input time (output time plus the time cut before)
  std::uint32_t outputTime = 0;   // ticks of output video time
  std::int64_t timeCut = 0;       // ticks of input time taken out of the output
  std::uint32_t picturesSkipped = 0;
  std::uint32_t packetsRepeated = 0;
  // A cut: the span asked for and the one removed, in ticks of input time.
  std::int64_t askedStart = 0;
  std::int64_t askedEnd = 0;
  std::int64_t cutStart = 0;
  std::int64_t cutEnd = 0;
  // Audio frames per track, by the run's track table index.
  std::array<std::uint32_t, kMaxAudioTracks> audioDropped{};
  std::array<std::uint32_t, kMaxAudioTracks> audioRepeated{};
};

class ConversionEvents {
 public:
  virtual ~ConversionEvents() = default;
  // Called on the worker thread, once per discontinuity.
  virtual void OnDiscontinuity(const DropEvent& event) = 0;
};

class DropTracker {
 public:
  // A note after this much output time belongs to a new event; so does a
  // loss the driver sees this far into the input after the event began (one
  // drop breaks the video packets' count a few times, within a few PES).
  static constexpr std::int32_t kQuietTicks = 2 * 90000;
  static constexpr std::uint64_t kSameDropBytes = 256u << 10;

  DropTracker(const InputView& input, const std::uint32_t& videoTime) : input_(input), videoTime_(videoTime) {}

  void SetListener(ConversionEvents* listener) { listener_ = listener; }
  void Reset() {
    open_ = false;
    totalCut_ = 0;
  }

  void VideoLoss() { Open(DropKind::VideoLoss, true); }
  void Repeat() { ++Open(DropKind::Repeat, true).packetsRepeated; }
  void Jump() { Open(DropKind::Jump, true); }
  void TimeCut(std::int32_t ticks) {
    if (ticks == 0) return;
    Open(DropKind::VideoLoss).timeCut += ticks;
    totalCut_ += ticks;
  }
  void PictureSkipped() { ++Open(DropKind::VideoLoss).picturesSkipped; }
  // A cut the user asked for moved the time origin: later events count it
  // in their input time (the cut itself is reported on its own).
  void PlannedCut(std::int64_t ticks) { totalCut_ += ticks; }
  // An event made elsewhere goes straight to the listener.
  void Emit(const DropEvent& event) {
    if (listener_ != nullptr) listener_->OnDiscontinuity(event);
  }
  void AudioFrames(std::uint32_t track, std::uint32_t dropped, std::uint32_t repeated) {
    if (track >= kMaxAudioTracks || (dropped | repeated) == 0) return;
    DropEvent& e = Open(DropKind::AudioLoss);
    e.audioDropped[track] += dropped;
    e.audioRepeated[track] += repeated;
  }
  // The end of the run: the open event goes out.
  void Finish() {
    if (open_ && listener_ != nullptr) listener_->OnDiscontinuity(event_);
    open_ = false;
  }

 private:
  // The event a note of `kind` belongs to: the open one while notes keep
  // coming, else a new one. A stronger kind replaces a weaker one.
  // A loss the driver saw (`seen`) may begin a new event; what the
  // handlers did about it joins the open one.
  DropEvent& Open(DropKind kind, bool seen = false) {
    const std::uint64_t at = input_.position();
    const bool quiet = static_cast<std::int32_t>(videoTime_ - lastTime_) >= kQuietTicks ||
                       (seen && at - event_.inputOffset > kSameDropBytes);
    if (open_ && quiet) Finish();
    if (!open_) {
      event_ = DropEvent{};
      event_.kind = kind;
      event_.inputOffset = at;
      event_.outputTime = videoTime_;
      event_.inputTime = static_cast<std::uint32_t>(videoTime_ + totalCut_);
      open_ = true;
    } else if (Rank(kind) > Rank(event_.kind)) {
      event_.kind = kind;
    }
    lastTime_ = videoTime_;
    return event_;
  }
  static int Rank(DropKind k) {
    switch (k) {
      case DropKind::Jump: return 3;
      case DropKind::VideoLoss: return 2;
      case DropKind::AudioLoss: return 1;
      default: return 0;
    }
  }

  const InputView& input_;
  const std::uint32_t& videoTime_;
  ConversionEvents* listener_ = nullptr;
  bool open_ = false;
  DropEvent event_{};
  std::uint32_t lastTime_ = 0;
  std::int64_t totalCut_ = 0;
};

}  // namespace kelvor
