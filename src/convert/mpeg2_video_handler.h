#pragma once
// MPEG-1/2 video on the shared video driver: pictures are found by their
// picture start codes and timed by the counted picture time line
// (Mpeg2Timeline); output starts at a sequence header once the line is
// anchored; the picture that restarts the line after a loss is held until
// the next one shows how many pictures before it still come; a recording
// that ends before a sequence header follows the anchor is played again.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "convert/mpeg2_timeline.h"
#include "convert/video_handler.h"

namespace kelvor {

class Mpeg2VideoHandler final : public VideoHandler {
 public:
  // The picture that restarts the time line after a loss is held until the
  // next picture shows how many of the pictures shown before it are still
  // to come. Room for any picture of main profile at high level (its VBV
  // buffer); a larger one is placed without waiting.
  static constexpr std::uint32_t kHoldSize = 0x130000;
  static_assert(kHoldSize <= kVideoStoreSize);
  // The input up to where output begins is kept (up to this size and this
  // many PES packets), so that a recording that ends before a sequence
  // header follows the time line's anchor is played again at its end, with
  // output from its first sequence header.
  static constexpr std::uint32_t kEarlySize = 0x100000;
  static constexpr std::uint32_t kMaxEarlyPes = 256;

  Mpeg2VideoHandler(StreamTiming& timing, Multiplexer& mux, VideoStore& store);

  void Reset() override;
  bool Finish() override;
  bool holdingPicture() const override { return holding_; }
  // The B pictures shown before the first picture after a cut lean on the
  // group removed: they are left out (the cut's time includes them).
  void ResumeAfterCut() override { cutJoin_ = CutJoin::Waiting; }

 private:
  bool StartCode(Piece& p, std::uint8_t value, bool straddling) override;
  bool PayloadByte(Piece& p, std::uint8_t b) override;
  void HeaderByte(std::uint8_t b) override;
  bool WriteBytes(std::span<const std::uint8_t> bytes) override;
  void BeforePiece(std::span<const std::uint8_t> piece, const PesStamp* stamp) override;

  bool Picture(Piece& p);
  void FollowTimeline();
  // DVD: the first of a sequence header and GOP header before a picture
  // begins a video object unit. False only when the output refused a packet.
  bool StartVideoUnit();
  // The held restarting picture goes out; `firstLeading` is the lowest
  // temporal reference of the pictures before it that still arrive.
  bool ReleaseHeld(std::uint32_t firstLeading);

  Mpeg2Timeline timeline_;
  // After a cut: before its first reference picture, then until the next.
  enum class CutJoin : std::uint8_t { None, Waiting, Leading };
  CutJoin cutJoin_ = CutJoin::None;
  // The first bytes after a sequence header or extension start code, read
  // as they pass by: the frame rate and each picture's repeated fields.
  enum class Header : std::uint8_t { None, Sequence, Extension };
  Header header_ = Header::None;
  void SetHeader(Header h) {
    header_ = h;
    readingHeader_ = h != Header::None;
  }
  std::uint32_t headerLength_ = 0;
  std::array<std::uint8_t, 6> headerBytes_{};
  std::uint32_t frameRateCode_ = 0;
  bool progressiveSequence_ = false;
  void ReadHeader();
  std::span<std::uint8_t> hold_;      // the restarting picture, in the shared store
  bool holding_ = false;              // the restarting picture is being held
  std::uint32_t holdLength_ = 0;
  bool closeAfterRelease_ = false;    // TS: the held picture's PES ends when it is written
  bool skipping_ = false;             // the current picture is not written
  bool pesClosedAtHeader_ = false;
  // A sequence or GOP header began the current video unit (DVD navigation)
  // and no picture has come since.
  bool unitHeaderSeen_ = false;

  // The input before output began, to be played again at the end.
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
  bool ReplayEarly();
  bool FinishLastPicture();
};

}  // namespace kelvor
