#pragma once
// Passes the video elementary stream (MPEG-2 or H.264) through to the
// multiplexer byte for byte, deciding where output starts, where each output
// PES packet begins and which PTS it carries, and keeping the output time
// line continuous across reception drops by moving the common time origin.
//
// The stream arrives in pieces of at most 184 bytes. Zero bytes that may
// begin a start code, and a complete 00 00 01 prefix, are withheld until it
// is known what they begin; when they were withheld from an earlier piece
// they are written from constant patterns. Bytes of a piece are written in
// runs, at decision points and at the end of the piece.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "convert/pes_stamp.h"
#include "mux/multiplexer.h"
#include "convert/stream_timing.h"
#include "scan/track_table.h"
#include "scan/video_probe.h"

namespace kelvor {

// What a piece of video did: `written` is false only when the output
// refused a packet; `stampPlaced` when a picture or access unit of this
// piece took the PES packet's time stamp.
struct VideoStep {
  bool written = true;
  bool stampPlaced = false;
  operator bool() const { return written; }  // NOLINT: reads as "went through"
};

class VideoHandler {
 public:
  static constexpr std::uint32_t kPictureTicks = 3600;     // 25 pictures per second
  static constexpr std::int32_t kMaxTimeJump = 900000;     // 10 seconds
  // MPEG-2: a time stamp this far off the counted time line means lost pictures.
  static constexpr std::int32_t kHalfPicture = 1800;
  // H.264: the head of the first access unit (delimiter, parameter sets,
  // SEI) is held until its first slice shows whether output can start there.
  static constexpr std::uint32_t kCaptureSize = 0x10000;
  // MPEG-2: the picture that restarts the time line after a loss is held
  // until the next picture shows how many of the pictures shown before it
  // are still to come. Room for any picture of main profile at high level
  // (its VBV buffer); a larger one is placed without waiting.
  static constexpr std::uint32_t kHoldSize = 0x130000;

  VideoHandler(const TrackTable& tracks, StreamTiming& timing, Multiplexer& mux, H264IdrState& idr);

  // Start of a run: scanner, flags and counters; the IDR state is kept as
  // the scan left it.
  void Reset();

  // The first piece of a video PES packet, with the packet's stamps.
  VideoStep HandleVideo(std::span<const std::uint8_t> piece, const PesStamp& stamp);
  // A later piece of the same PES packet. Does nothing once stopped.
  VideoStep HandleVideo(std::span<const std::uint8_t> piece);

  // End of the run: writes a picture still held. False only when the output
  // refused a packet.
  bool Finish();

  // The time base jumped by more than 10 seconds: the conversion ends here.
  bool stopped() const { return phase_ == Phase::Stopped; }
  bool outputOn() const { return videoOutputOn_; }
  bool timeSet() const { return videoTimeSet_; }
  // MPEG-2: a picture that restarted the time line waits for the next one;
  // the time origin may still move back by a few pictures.
  bool holdingPicture() const { return holding_; }
  // Input time moved out of the output by the re-timing, in ticks.
  std::int64_t timeRemoved() const { return timeRemoved_; }

 private:
  enum class Phase : std::uint8_t { Z0, Z1, Z2, SC, P1, P2, Stopped };

  // Per-call scanning context.
  struct Piece {
    std::span<const std::uint8_t> bytes;
    std::uint32_t pos = 0;       // the byte being handled
    std::uint32_t runStart = 0;  // start of the pending run
    std::uint32_t cutEnd = 0;    // H.264: run end at the current filler NAL header
  };

  void currentPts(std::uint32_t& pts, bool& valid) const {
    pts = stamp_.pts();
    valid = stamp_.open();
  }
  // The PES time stamp belongs to the first picture (access unit) that
  // starts in the PES.
  void takeStamp() { stampPlaced_ |= stamp_.Take(); }
  bool handlePiece(std::span<const std::uint8_t> piece);
  // End of the pending run: the withheld bytes of this piece follow it.
  std::uint32_t runEnd(const Piece& p) const { return p.pos - (held_ - heldOutside_); }
  bool writeRun(Piece& p, std::uint32_t end);
  bool writeBytes(std::span<const std::uint8_t> bytes);
  // Releases the oldest `count` withheld bytes into the run.
  bool release(std::uint32_t count);
  bool writePrefix();

  bool startCode(Piece& p, std::uint8_t value, bool straddling);
  bool mpeg2StartCode(Piece& p, std::uint8_t value, bool straddling);
  bool mpeg2Picture(Piece& p);
  bool h264StartCode(Piece& p, std::uint8_t value, bool straddling);
  bool h264Delimiter(Piece& p, bool straddling);
  void h264Slice(bool idr);
  // H.264: output begins with the access unit whose slice anchored the time line.
  bool startOutputAtSlice();
  // H.264: closes a reception gap seen in the decode times.
  void h264CheckDecodeTime();
  void moveStartBase(std::int32_t d);
  // DVD: the first of a sequence header and GOP header before a picture
  // begins a video object unit. False only when the output refused a packet.
  bool startVideoUnit();
  // MPEG-2 picture time line.
  void closeGop();
  void restartGop(std::uint32_t tr, std::uint32_t anchored, bool reference);
  void countPicture(std::uint32_t tr);
  // The held restarting picture goes out; `firstLeading` is the lowest
  // temporal reference of the pictures before it that still arrive.
  bool releaseHeld(std::uint32_t firstLeading);
  // A B picture placed after the last reference picture written lost the
  // reference it is predicted backwards from.
  bool lostBackwardReference(std::uint32_t tr, std::uint32_t type) const;

  const TrackTable& tracks_;
  StreamTiming& timing_;
  Multiplexer& mux_;
  H264IdrState& idr_;

  StampSlot stamp_;
  bool stampPlaced_ = false;  // during one HandleVideo call
  Phase phase_ = Phase::Z0;
  std::uint32_t held_ = 0;          // withheld bytes (zeros, or 00 00 01 in SC)
  std::uint32_t heldOutside_ = 0;   // of which from earlier pieces
  std::uint32_t startCodePts_ = 0;
  bool startCodePtsValid_ = false;
  std::uint32_t zeroPts_ = 0;
  bool zeroPtsValid_ = false;
  bool videoOutputOn_ = false;
  bool videoTimeSet_ = false;
  std::array<std::uint8_t, 6> startCodeTemplate_{0x00, 0x00, 0x01, 0x00, 0x00, 0x00};

  // H.264
  bool auPending_ = false;
  std::uint32_t auPts_ = 0;
  bool auPtsValid_ = false;
  bool fillerActive_ = false;
  bool pesDtsValid_ = false;
  std::uint32_t pesDts_ = 0;
  bool decodeTimeSet_ = false;
  std::uint32_t lastDecodeTime_ = 0;   // relative to startBase
  std::uint32_t frameTicks_ = 0;       // decode-time step of one access unit, once known
  std::uint32_t untimedUnits_ = 0;     // access units since the last timed one
  bool capturing_ = false;
  std::uint32_t captureLength_ = 0;
  // H.264 capture and MPEG-2 hold share the storage; one run uses one of them.
  std::vector<std::uint8_t> capture_;

  // MPEG-2
  std::uint32_t gopPictureCount_ = 0;
  std::uint32_t gopSpan_ = 0;
  std::uint64_t gopSlots_ = 0;        // picture slots of the GOP that are taken, from videoTime
  std::uint32_t restartTr_ = 0;       // the GOP was restarted at a picture with this tr (0: not)
  // Places of this GOP taken before its restart, from videoTime: a picture
  // of it that would land there is left out.
  std::uint64_t priorSlots_ = 0;
  bool holding_ = false;              // the restarting picture is being held
  std::uint32_t holdLength_ = 0;
  bool closeAfterRelease_ = false;    // TS: the held picture's PES ends when it is written
  bool skipping_ = false;             // the current picture is not written
  bool anchorSeen_ = false;           // a reference picture was written
  bool shownSet_ = false;             // a picture was shown
  std::uint32_t anchorTime_ = 0;      // the output time of the last one
  std::uint32_t shownTime_ = 0;       // that of the picture a decoder shows last
  bool pesClosedAtHeader_ = false;
  // MPEG-2: a sequence or GOP header began the current video unit (DVD
  // navigation) and no picture has come since.
  bool unitHeaderSeen_ = false;

  std::int64_t timeRemoved_ = 0;
};

}  // namespace kelvor
