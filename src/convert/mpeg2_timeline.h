#pragma once
// The MPEG-2 output time line, made by counting pictures: the time of the
// current GOP's first picture in display order, and one slot per temporal
// reference after it. Input time stamps only anchor it; when they run ahead
// of the count (pictures lost in a reception drop) the lost time is taken
// out of the output by moving the common time origin, which the audio
// follows. Pure arithmetic: stamps (relative to the origin) in, output time
// stamps and origin moves out.
//
// A picture slot lasts one frame of the sequence's frame rate; with repeated
// fields (3:2 pulldown) it lasts the average display time of the pictures
// seen. Times are kept in eighths of a tick, so that every standard rate,
// and every field of it, is exact over any length (59.94 Hz: 1501.5 ticks).
#include <cstdint>

namespace kelvor {

// Frames per second of an MPEG-2 frame_rate_code (0 for a code not defined).
double Mpeg2FramesPerSecond(std::uint32_t code);

class Mpeg2Timeline {
 public:
  static constexpr std::int32_t kMaxTimeJump = 900000;  // 10 seconds
  // Picture coding types.
  static constexpr std::uint32_t kIPicture = 1;
  static constexpr std::uint32_t kPPicture = 2;
  static constexpr std::uint32_t kBPicture = 3;

  // What becomes of a picture.
  enum class Fate : std::uint8_t {
    Place,  // written with time stamp `pts`
    Hold,   // restarts the time line: held until the next picture (Release)
    Skip,   // left out: its place was taken before a loss, or it lost a reference (no place kept)
    Stop,   // the time stamps jumped by more than 10 seconds: the conversion ends
  };
  struct Placement {
    Fate fate = Fate::Place;
    std::uint32_t pts = 0;
  };

  void Reset() { *this = Mpeg2Timeline{}; }

  bool timeSet() const { return timeSet_; }
  // Time of the current GOP's first picture, in ticks.
  std::uint32_t videoTime() const { return videoTime_; }
  // The temporal reference of the picture that restarted the GOP (0: none).
  std::uint32_t restartTr() const { return restartTr_; }

  // The sequence's frame rate: frame_rate_code with frame_rate_extension_n
  // and _d (0 and 0 without a sequence extension). Unknown codes keep 25 Hz.
  void SetFrameRate(std::uint32_t code, std::uint32_t extN, std::uint32_t extD);
  // The display time of the picture just counted, from its coding extension.
  void PictureDuration(bool progressiveSequence, bool framePicture, bool topFieldFirst,
                       bool repeatFirstField);
  // The picture just counted was the first field of a frame: the next
  // picture header is its second field, which shares its place.
  bool secondFieldNext() const { return field_ == Field::FirstCounted; }
  // The second field's header (`tr` its temporal reference): true when it
  // belongs to the first field's frame. Else the first field lost its
  // partner and the picture is counted as one of its own.
  bool SecondField(std::uint32_t tr);
  static constexpr std::uint32_t kUnitsPerTick = 8;

  // A GOP header.
  void CloseGop();
  // A picture with temporal reference `tr` and coding type `type`; `stamp`
  // is its PTS minus the origin when `timed`.
  Placement Picture(std::uint32_t tr, std::uint32_t type, bool timed, std::uint32_t stamp);
  // While a restarting picture is held: whether the picture `tr` after it
  // is one of the pictures shown before it, in step with it.
  bool IsLeading(std::uint32_t tr, bool timed, std::uint32_t stamp) const;
  // The held picture goes out; `firstLeading` is the lowest temporal
  // reference of the pictures before it that still arrive. Its time stamp.
  std::uint32_t Release(std::uint32_t firstLeading);

  // Ticks the time origin has to move since the last call (added to it).
  std::int32_t TakeOriginMove() {
    const std::int32_t d = originMove_;
    originMove_ = 0;
    return d;
  }

 private:
  // The time `slots` picture slots after the GOP's first picture.
  std::uint32_t At(std::int64_t slots) const;
  void Advance(std::int64_t slots);
  void MoveOrigin(std::int32_t d) { originMove_ += d; }
  void RestartGop(std::uint32_t tr, std::uint32_t stamp, bool reference);
  void CountPicture(std::uint32_t tr);
  bool LostBackwardReference(std::uint32_t tr, std::uint32_t type) const;
  // A B picture that lost a reference is left out without a place.
  Placement SkipOrphan();

  std::uint32_t frameUnits_ = 28800;     // one frame, in eighths of a tick (25 Hz)
  std::uint32_t slotUnits_ = 28800;      // one picture slot
  std::uint64_t shownUnits_ = 0;         // display time of the pictures measured
  std::uint64_t shownPictures_ = 0;
  bool varying_ = false;                 // pictures of more than one frame were seen
  std::uint32_t videoTime_ = 0;
  std::uint32_t fraction_ = 0;           // eighths of a tick beyond videoTime_
  bool timeSet_ = false;
  std::uint32_t gopPictureCount_ = 0;
  std::uint32_t gopSpan_ = 0;
  std::uint64_t gopSlots_ = 0;          // picture slots of the GOP that are taken
  std::uint32_t restartTr_ = 0;
  // Places of this GOP taken before its restart: a picture of it that would
  // land there is left out.
  std::uint64_t priorSlots_ = 0;
  bool anchorSeen_ = false;             // a reference picture was placed
  bool shownSet_ = false;               // a picture was shown
  std::uint32_t anchorTime_ = 0;        // the time of the last reference picture
  std::uint32_t shownTime_ = 0;         // that of the picture a decoder shows last
  std::int32_t originMove_ = 0;
  enum class Field : std::uint8_t { None, FirstCounted, Second };
  Field field_ = Field::None;
  std::uint32_t fieldTr_ = 0;
  // Pictures were left out without a place: the next one kept restarts the
  // GOP at the first free place, so the output has no hole.
  bool gapOpen_ = false;
};

}  // namespace kelvor
