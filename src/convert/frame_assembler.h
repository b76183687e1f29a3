#pragma once
// The part the audio assemblers share, each codec keeping only its framing
// and how a frame is placed: every track's frame being collected with its
// PES stamp, the frames held back after a late one while the video is
// followed (HeldFrames), the frame written last (which fills a gap), and
// the way a whole frame goes out: after those held, held itself, or placed.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "convert/audio_handler.h"
#include "convert/held_frames.h"
#include "convert/pes_stamp.h"

namespace kelvor {

// One track's frame under collection; a codec's track adds its framing state.
template <std::uint32_t kFrameBytes>
struct CollectedFrame {
  std::array<std::uint8_t, kFrameBytes> frame{};
  std::uint32_t frameLength = 0;
  std::uint32_t toCollect = 0;
  std::uint32_t framePts = 0;
  bool framePtsValid = false;
  bool frameTimed = false;  // the frame being collected has a time (framePts)
  // A frame without a time stamp follows the one before it in its PES.
  bool chained = false;
  // The frame written last, which fills a gap before a late frame.
  std::array<std::uint8_t, kFrameBytes> last{};
  std::uint32_t lastLength = 0;
  HeldFrames held{kFrameBytes};
  StampSlot stamp;  // of the PES packet being read

  // Copies as much of the frame body as `bytes` holds; returns how many
  // bytes it took (the frame is whole when toCollect reaches 0).
  std::size_t CollectBody(std::span<const std::uint8_t> bytes) {
    const std::size_t take = std::min<std::size_t>(toCollect, bytes.size());
    std::copy_n(bytes.begin(), take, frame.begin() + (frameLength - toCollect));
    toCollect -= static_cast<std::uint32_t>(take);
    return take;
  }

  // Start of a run (the framing state is the codec's).
  void ResetCollected() {
    toCollect = 0;
    framePtsValid = frameTimed = chained = false;
    lastLength = 0;
    held.clear();
    stamp.Reset();
  }
  // A sync word begins here: the PES stamp, if still open, is its time.
  void TakePts() {
    framePts = stamp.pts();
    framePtsValid = stamp.open();
  }
  std::span<const std::uint8_t> collected() const { return std::span(frame).first(frameLength); }
  // What fills a gap before `frame`: the frame written last, or itself.
  std::span<const std::uint8_t> filler(std::span<const std::uint8_t> frame_) const {
    return lastLength > 0 ? std::span<const std::uint8_t>(last.data(), lastLength) : frame_;
  }
  void keepLast(std::span<const std::uint8_t> written) {
    std::copy(written.begin(), written.end(), last.begin());
    lastLength = static_cast<std::uint32_t>(written.size());
  }
};

// Derived provides ContinuePes (its framing), and
//   bool leftOutByCut(Track&, slot, frame): shown inside a cut the user asked for;
//   bool lateToPlace(Track&, slot, frame): late enough to wait for the video;
//   bool place(Track&, slot, frame, pts, timed): the frame goes out.
template <typename Derived, typename Track, std::size_t kTracks>
class FrameAssembler : public AudioHandler {
 public:
  [[nodiscard]] bool StartPes(std::span<const std::uint8_t> payload, std::uint32_t slot,
                              const PesStamp& stamp) final {
    if (slot >= tracks_.size()) return true;
    tracks_[slot].stamp.Arrive(stamp);
    return ContinuePes(payload, slot);
  }
  void FollowVideo(bool on) final { followVideo_ = on; }
  [[nodiscard]] bool ReleaseHeld() final {
    for (std::uint32_t slot = 0; slot < tracks_.size(); ++slot) {
      if (!tracks_[slot].held.empty() && !placeHeld(tracks_[slot], slot)) return false;
    }
    return true;
  }

 protected:
  // A whole frame is collected: behind frames already held, or late while
  // the video is followed, it is held; else it is placed.
  bool dispatch(Track& t, std::uint32_t slot) {
    const std::span<const std::uint8_t> frame = t.collected();
    if (t.frameTimed && self().leftOutByCut(t, slot, frame)) return true;
    if (t.held.full() && !placeHeld(t, slot)) return false;
    if (!t.held.empty() || (followVideo_ && self().lateToPlace(t, slot, frame))) {
      t.held.push(frame, t.framePts, t.frameTimed);
      return true;
    }
    return self().place(t, slot, frame, t.framePts, t.frameTimed);
  }
  bool placeHeld(Track& t, std::uint32_t slot) {
    for (std::uint32_t k = 0; k < t.held.size(); ++k) {
      const HeldFrames::Entry e = t.held[k];
      if (!self().place(t, slot, e.bytes, e.pts, e.timed)) return false;
    }
    t.held.clear();
    return true;
  }

  std::array<Track, kTracks> tracks_{};
  bool followVideo_ = false;

 private:
  Derived& self() { return static_cast<Derived&>(*this); }
};

}  // namespace kelvor
