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
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "convert/h264_timeline.h"
#include "convert/mpeg2_timeline.h"
#include "convert/pes_stamp.h"
#include "convert/start_code_scanner.h"
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
  // H.264: the head of the first access unit (delimiter, parameter sets,
  // SEI) is held until its first slice shows whether output can start there;
  // an IDR access unit that comes before the first audio time stamp is held
  // with the access units after it until that stamp shows where time starts.
  static constexpr std::uint32_t kCaptureSize = 0x10000;
  static constexpr std::uint32_t kMaxCapturedUnits = 256;
  // H.264 after a loss: a stream that marks no random-access point (neither
  // IDR nor recovery point SEI) would lose all its video; after this many
  // access units, more than any broadcast GOP, output resumes anyway.
  static constexpr std::uint32_t kMaxResyncUnits = 600;
  // MPEG-2: the picture that restarts the time line after a loss is held
  // until the next picture shows how many of the pictures shown before it
  // are still to come. Room for any picture of main profile at high level
  // (its VBV buffer); a larger one is placed without waiting.
  static constexpr std::uint32_t kHoldSize = 0x130000;
  // MPEG-2: the input up to where output begins is kept (up to this size
  // and this many PES packets), so that a recording that ends before a
  // sequence header follows the time line's anchor is played again at its
  // end, with output from its first sequence header.
  static constexpr std::uint32_t kEarlySize = 0x100000;
  static constexpr std::uint32_t kMaxEarlyPes = 256;

  VideoHandler(const TrackTable& tracks, StreamTiming& timing, Multiplexer& mux, H264IdrState& idr);

  // Start of a run: scanner, flags and counters; the IDR state is kept as
  // the scan left it.
  void Reset();

  // The first piece of a video PES packet, with the packet's stamps.
  VideoStep HandleVideo(std::span<const std::uint8_t> piece, const PesStamp& stamp);
  // A later piece of the same PES packet. Does nothing once stopped.
  VideoStep HandleVideo(std::span<const std::uint8_t> piece);

  // End of the run: writes a picture (H.264: access units) still held.
  // False only when the output refused a packet.
  bool Finish();

  // A user stop: the output ends before the next picture (access unit)
  // begins, so that its last one is complete. Nothing more is written after.
  void EndAtNextPicture() { endAtPicture_ = true; }
  // The conversion ends here: the time base jumped by more than 10 seconds,
  // or the picture that was being written when a stop came is complete.
  bool stopped() const { return scanner_.phase() == Phase::Stopped; }
  bool endedOnRequest() const { return stopped() && endAtPicture_; }
  // Video packets were lost. H.264: the access unit being written is cut
  // short there, and output resumes at the next random-access point (an IDR
  // access unit, or one with a recovery point SEI), as the pictures before
  // it may lean on what was lost.
  void Interrupted();
  bool outputOn() const { return videoOutputOn_; }
  // A picture (H.264: access unit) was written and the next one began, so
  // at least one is whole: a single picture cut off by the end of the input
  // is not video a player can show.
  bool wholePictureWritten() const { return picturesBegun_ >= 2; }
  bool timeSet() const { return videoTimeSet_; }
  // MPEG-2: a picture that restarted the time line waits for the next one;
  // the time origin may still move back by a few pictures.
  bool holdingPicture() const { return holding_; }
  // Input time moved out of the output by the re-timing, in ticks.
  std::int64_t timeRemoved() const { return timeRemoved_; }

 private:
  using Phase = StartCodeScanner::Phase;

  // Per-call scanning context.
  struct Piece {
    std::span<const std::uint8_t> bytes;
    std::uint32_t pos = 0;       // the byte being handled
    std::uint32_t runStart = 0;  // start of the pending run
    std::uint32_t cutEnd = 0;    // H.264: run end at the current filler NAL header
  };

  StartCodeScanner::Stamp CurrentStamp() const { return {stamp_.pts(), stamp_.open()}; }
  // The PES time stamp belongs to the first picture (access unit) that
  // starts in the PES.
  void TakeStamp() { stampPlaced_ |= stamp_.Take(); }
  bool HandlePiece(std::span<const std::uint8_t> piece);
  // End of the pending run: the withheld bytes of this piece follow it.
  std::uint32_t RunEnd(const Piece& p) const { return p.pos - scanner_.heldInPiece(); }
  bool WriteRun(Piece& p, std::uint32_t end);
  bool WriteBytes(std::span<const std::uint8_t> bytes);
  bool WritePrefix();
  void CountPicture() { picturesBegun_ = std::min(picturesBegun_ + 1, 2u); }
  // A stop was asked for and a picture ends here: true when the handler stopped.
  bool EndHere();

  bool StartCode(Piece& p, std::uint8_t value, bool straddling);
  bool Mpeg2StartCode(Piece& p, std::uint8_t value, bool straddling);
  bool Mpeg2Picture(Piece& p);
  bool H264StartCode(Piece& p, std::uint8_t value, bool straddling);
  // An access unit begins: at a delimiter, or in a stream without them at
  // the NAL unit that begins it. `withheld` bytes of the start code
  // template (the prefix, or prefix and NAL header) are written after the
  // decision; with none, the run holds the start code.
  bool H264Delimiter(Piece& p, std::uint32_t withheld);
  // The byte after a slice's NAL header, in a stream without delimiters:
  // whether the slice begins a picture.
  bool H264SliceStart(Piece& p, std::uint8_t b);
  // What a NAL unit's type asks for once its access unit is known.
  bool H264Nal(std::uint8_t type);
  bool WriteWithheld(std::uint32_t count);
  void H264Slice(bool idr);
  // H.264: output begins with the access unit whose slice anchored the time line.
  bool StartOutputAtSlice();
  // H.264: closes a reception gap seen in the decode times.
  void H264CheckDecodeTime();
  // The time lines' moves of the time origin reach the shared timing.
  void ApplyOriginMove(std::int32_t d);
  void FollowMpeg2Timeline();
  // DVD: the first of a sequence header and GOP header before a picture
  // begins a video object unit. False only when the output refused a packet.
  bool StartVideoUnit();
  // The held restarting picture goes out; `firstLeading` is the lowest
  // temporal reference of the pictures before it that still arrive.
  bool ReleaseHeld(std::uint32_t firstLeading);

  bool h264() const { return tracks_.video.codec == Codec::H264; }

  const TrackTable& tracks_;
  StreamTiming& timing_;
  Multiplexer& mux_;
  H264IdrState& idr_;

  StampSlot stamp_;
  bool stampPlaced_ = false;  // during one HandleVideo call
  StartCodeScanner scanner_;
  bool videoOutputOn_ = false;
  bool videoTimeSet_ = false;
  bool endAtPicture_ = false;
  std::uint32_t picturesBegun_ = 0;  // written since output began (to 2)
  std::array<std::uint8_t, 6> startCodeTemplate_{0x00, 0x00, 0x01, 0x00, 0x00, 0x00};

  // H.264
  H264Timeline h264_;
  // A sequence parameter set as it passes by, up to the next start code:
  // the frame duration it declares goes to the decode-time line.
  static constexpr std::uint32_t kSpsBytes = 256;
  std::array<std::uint8_t, kSpsBytes> sps_{};
  std::uint32_t spsLength_ = 0;
  void ReadSps();
  bool auPending_ = false;
  std::uint32_t auPts_ = 0;
  bool auPtsValid_ = false;
  bool fillerActive_ = false;
  bool pesDtsValid_ = false;
  std::uint32_t pesDts_ = 0;
  bool capturing_ = false;
  std::uint32_t captureLength_ = 0;
  // Before the start is found: the capture began at a timed IDR access unit.
  bool captureIdr_ = false;
  struct CapturedUnit {
    std::uint32_t offset = 0;
    std::uint32_t pts = 0;
    bool ptsValid = false;
  };
  std::array<CapturedUnit, kMaxCapturedUnits> capturedUnits_{};
  std::uint32_t capturedCount_ = 0;
  // Output begins with the held IDR access unit and those after it.
  bool StartOutputAtCapturedIdr();
  // After lost packets: waiting for a random-access point (resync_); the
  // head of the current access unit is held until its first slice
  // (resyncHold_); the rest of an access unit is left out (dropUnit_).
  bool resync_ = false;
  bool resyncHold_ = false;
  std::uint32_t resyncUnits_ = 0;  // access units left out while waiting
  bool dropUnit_ = false;
  bool recoveryPoint_ = false;  // the current access unit has a recovery point SEI
  // Access units are found by their delimiters once one was seen; before,
  // by the NAL units that begin them (a slice NAL unit came since the last).
  bool delimiterSeen_ = false;
  bool vclSeen_ = true;
  bool ResumeAtSlice(bool idr);
  // H.264 capture and MPEG-2 hold share the storage; one run uses one of them.
  std::vector<std::uint8_t> capture_;

  // MPEG-2
  Mpeg2Timeline mpeg2_;
  // The first bytes after a sequence header or extension start code, read
  // as they pass by: the frame rate and each picture's repeated fields.
  enum class Header : std::uint8_t { None, Sequence, Extension, Sei, Sps };
  Header header_ = Header::None;
  std::uint32_t headerLength_ = 0;
  std::array<std::uint8_t, 6> headerBytes_{};
  std::uint32_t frameRateCode_ = 0;
  bool progressiveSequence_ = false;
  void ReadHeader();
  bool holding_ = false;              // the restarting picture is being held
  std::uint32_t holdLength_ = 0;
  bool closeAfterRelease_ = false;    // TS: the held picture's PES ends when it is written
  bool skipping_ = false;             // the current picture is not written
  bool pesClosedAtHeader_ = false;
  // MPEG-2: a sequence or GOP header began the current video unit (DVD
  // navigation) and no picture has come since.
  bool unitHeaderSeen_ = false;

  std::int64_t timeRemoved_ = 0;

  // MPEG-2: the input before output began, to be played again at the end.
  struct EarlyPes {
    std::uint32_t offset = 0;
    PesStamp stamp;
  };
  std::vector<std::uint8_t> early_;
  std::array<EarlyPes, kMaxEarlyPes> earlyPes_{};
  std::uint32_t earlyLength_ = 0;
  std::uint32_t earlyPesCount_ = 0;
  bool earlyKept_ = true;    // all of it is kept so far
  bool replaying_ = false;   // output begins at the first sequence header
  void KeepEarly(std::span<const std::uint8_t> piece, const PesStamp* stamp);
  bool ReplayEarly();
  bool FinishLastPicture();
};

}  // namespace kelvor
