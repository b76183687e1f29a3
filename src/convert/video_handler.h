#pragma once
// Passes the video elementary stream through to the multiplexer byte for
// byte, deciding where output starts, where each output PES packet begins
// and which PTS it carries, and keeping the output time line continuous
// across reception drops by moving the common time origin.
//
// This class is the part every codec shares: the start-code machine over
// the pieces, the withheld prefix bytes, the runs written, the stop at a
// picture boundary and the moves of the time origin. What a start code
// means, where an access unit begins, whether output may start there and
// what time it has is the codec's own: Mpeg2VideoHandler and
// H264VideoHandler. A new video codec is one more such class.
//
// The stream arrives in pieces of at most 184 bytes. Zero bytes that may
// begin a start code, and a complete 00 00 01 prefix, are withheld until it
// is known what they begin; when they were withheld from an earlier piece
// they are written from constant patterns. Bytes of a piece are written in
// runs, at decision points and at the end of the piece.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "convert/pes_stamp.h"
#include "convert/start_code_scanner.h"
#include "convert/stream_timing.h"
#include "mux/multiplexer.h"

namespace kelvor {

// Room for the largest unit a codec's handler holds back (an MPEG-2 picture
// of main profile at high level; H.264 access units from an IDR on). A run
// uses one handler, so the handlers share one store, made once.
inline constexpr std::uint32_t kVideoStoreSize = 0x130000;
using VideoStore = std::array<std::uint8_t, kVideoStoreSize>;

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
  static constexpr std::uint32_t kLossWaitTicks = 90000;
  // The rule after a loss, the same for every codec: the video resumes at
  // the next random-access point when one comes within about a second of
  // the loss (kLossWaitTicks); past that, at the next whole unit, whose
  // pictures may show the damage for a moment (which costs less than the
  // seconds of programme a rare random-access point would). `unitsWaited`
  // counts the unit at hand; `frameTicks` is 0 when the rate is unknown.
  static bool ResumeAfterLoss(bool randomAccess, std::uint32_t unitsWaited, std::uint32_t frameTicks);

  VideoHandler(StreamTiming& timing, Multiplexer& mux) : timing_(timing), mux_(mux) {}
  virtual ~VideoHandler() = default;
  VideoHandler(const VideoHandler&) = delete;
  VideoHandler& operator=(const VideoHandler&) = delete;

  // Start of a run: scanner, flags and counters.
  virtual void Reset();

  // The first piece of a video PES packet, with the packet's stamps.
  VideoStep HandleVideo(std::span<const std::uint8_t> piece, const PesStamp& stamp);
  // A later piece of the same PES packet. Does nothing once stopped.
  VideoStep HandleVideo(std::span<const std::uint8_t> piece);

  // End of the run: writes what is still held. False only when the output
  // refused a packet.
  virtual bool Finish() = 0;

  // A user stop: the output ends before the next picture (access unit)
  // begins, so that its last one is complete. Nothing more is written after.
  void EndAtNextPicture() { endAtPicture_ = true; }
  // The conversion ends here: the time base jumped by more than 10 seconds,
  // or the picture that was being written when a stop came is complete.
  bool stopped() const { return scanner_.phase() == Phase::Stopped; }
  bool endedOnRequest() const { return stopped() && endAtPicture_; }
  // Video packets were lost just before the piece to come.
  virtual void Interrupted() {}
  // The video goes on after a cut the user asked for, at a random-access
  // point (nothing was lost: the time origin has moved by the cut).
  virtual void ResumeAfterCut() {}
  bool outputOn() const { return videoOutputOn_; }
  // A picture (H.264: access unit) was written and the next one began, so
  // at least one is whole: a single picture cut off by the end of the input
  // is not video a player can show.
  bool wholePictureWritten() const { return picturesBegun_ >= 2; }
  bool timeSet() const { return videoTimeSet_; }
  // A picture that restarted the time line is held back; the time origin
  // may still move back by a few pictures.
  virtual bool holdingPicture() const { return false; }
  // Input time moved out of the output by the re-timing, in ticks.
  std::int64_t timeRemoved() const { return timeRemoved_; }

 protected:
  using Phase = StartCodeScanner::Phase;

  // Per-call scanning context.
  struct Piece {
    std::span<const std::uint8_t> bytes;
    std::uint32_t pos = 0;       // the byte being handled
    std::uint32_t runStart = 0;  // start of the pending run
    std::uint32_t cutEnd = 0;    // run end at the header of a unit whose data is cut
  };

  // The codec's part of a start code: `value` is the byte after 00 00 01;
  // `straddling` when the prefix came in an earlier piece (it was withheld
  // and is written from the template).
  virtual bool StartCode(Piece& p, std::uint8_t value, bool straddling) = 0;
  // A byte of the start code's payload the codec asked for (phases P1, P2).
  virtual bool PayloadByte(Piece& p, std::uint8_t b) = 0;
  // A byte of a header being read as it passes by (while readingHeader_).
  virtual void HeaderByte(std::uint8_t b) = 0;
  // Bytes on their way out: left out, held, written or kept before output.
  virtual bool WriteBytes(std::span<const std::uint8_t> bytes) = 0;
  // Before a piece is handled (`stamp`: it starts a PES packet).
  virtual void BeforePiece(std::span<const std::uint8_t>, const PesStamp*) {}

  StartCodeScanner::Stamp CurrentStamp() const { return {stamp_.pts(), stamp_.open()}; }
  // The PES time stamp belongs to the first picture (access unit) that
  // starts in the PES.
  void TakeStamp() { stampPlaced_ |= stamp_.Take(); }
  bool HandlePiece(std::span<const std::uint8_t> piece);
  // End of the pending run: the withheld bytes of this piece follow it.
  std::uint32_t RunEnd(const Piece& p) const { return p.pos - scanner_.heldInPiece(); }
  bool WriteRun(Piece& p, std::uint32_t end);
  bool WritePrefix() { return WriteBytes(std::span(startCodeTemplate_).first(3)); }
  bool WriteWithheld(std::uint32_t count) {
    return count == 0 || WriteBytes(std::span(startCodeTemplate_).first(count));
  }
  void CountPicture() { picturesBegun_ = std::min(picturesBegun_ + 1, 2u); }
  // A stop was asked for and a picture ends here: true when the handler stopped.
  bool EndHere();
  // A time line's move of the time origin reaches the shared timing.
  void ApplyOriginMove(std::int32_t d);
  // A picture left out after a loss, for the drop report.
  void NotePictureSkipped() const;

  StreamTiming& timing_;
  Multiplexer& mux_;

  StampSlot stamp_;
  bool stampPlaced_ = false;  // during one HandleVideo call
  bool pesDtsValid_ = false;  // the decode time stamp of the PES packet
  std::uint32_t pesDts_ = 0;
  StartCodeScanner scanner_;
  bool readingHeader_ = false;  // HeaderByte takes the next bytes
  bool cutActive_ = false;      // the unit begun is cut at its header (cutEnd)
  bool videoOutputOn_ = false;
  bool videoTimeSet_ = false;
  bool endAtPicture_ = false;
  std::uint32_t picturesBegun_ = 0;  // written since output began (to 2)
  std::array<std::uint8_t, 6> startCodeTemplate_{0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
  std::int64_t timeRemoved_ = 0;
};

}  // namespace kelvor
