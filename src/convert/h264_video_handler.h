#pragma once
// H.264 and HEVC on the shared video driver: access units are found by
// their delimiters (or, in a stream without them, by the NAL unit that
// begins one), timed by their PES stamps and decode times (H264Timeline);
// output starts at an access unit whose slice anchors the time line, and
// after lost packets resumes at a random-access point. The two codecs differ
// only in their NAL unit types (common/nal_kinds.h) and header length; HEVC's
// leading pictures that lean on pictures before a CRA or BLA (RASL) are
// left out after every start there.
#include <array>
#include <cstdint>
#include <span>

#include "common/codec.h"
#include "convert/h264_timeline.h"
#include "common/nal_kinds.h"
#include "convert/video_handler.h"
#include "scan/video_probe.h"

namespace kelvor {

class H264VideoHandler final : public VideoHandler {
 public:
  // The head of the first access unit (delimiter, parameter sets, SEI) is
  // held until its first slice shows whether output can start there; an
  // IDR access unit that comes before the first audio time stamp is held
  // with the access units after it (up to kIdrCaptureSize) until that stamp
  // shows where time starts.
  static constexpr std::uint32_t kCaptureSize = 0x10000;
  static constexpr std::uint32_t kIdrCaptureSize = 0x130000;
  static_assert(kCaptureSize <= kIdrCaptureSize && kIdrCaptureSize <= kVideoStoreSize);
  static constexpr std::uint32_t kMaxCapturedUnits = 256;

  // The IDR state is the one the scan left, kept from run to run.
  // `codec`: H264 or Hevc.
  H264VideoHandler(StreamTiming& timing, Multiplexer& mux, H264IdrState& idr, VideoStore& store,
                   Codec codec = Codec::H264);

  void Reset() override;
  bool Finish() override;
  // The access unit being written is cut short here, and output resumes
  // at the next random-access point (an IDR access unit, or one with a
  // recovery point SEI), as the pictures before it may lean on what was lost.
  void Interrupted() override;

 private:
  bool StartCode(Piece& p, std::uint8_t value, bool straddling) override;
  bool PayloadByte(Piece& p, std::uint8_t b) override;
  void HeaderByte(std::uint8_t b) override;
  bool WriteBytes(std::span<const std::uint8_t> bytes) override;

  // An access unit begins: at a delimiter, or in a stream without them at
  // the NAL unit that begins it. `withheld` bytes of the start code
  // template (the prefix, or prefix and NAL header) are written after the
  // decision; with none, the run holds the start code.
  bool Delimiter(Piece& p, std::uint32_t withheld);
  // The byte after a slice's NAL header, in a stream without delimiters:
  // whether the slice begins a picture.
  bool SliceStart(Piece& p, std::uint8_t b);
  // What a NAL unit's type asks for once its access unit is known.
  bool Nal(NalKind kind);
  void Slice(bool idr);
  // After output starts or resumes at a random-access picture of this kind:
  // whether its leading pictures that lean on earlier ones are left out.
  void SkipLeadingAfter(NalKind kind);
  // Output begins with the access unit whose slice anchored the time line.
  bool StartOutputAtSlice();
  // Output begins with the held IDR access unit and those after it.
  bool StartOutputAtCapturedIdr();
  // Closes a reception gap seen in the decode times.
  void CheckDecodeTime();
  bool ResumeAtSlice(NalKind kind);
  void ReadSps();

  H264IdrState& idr_;
  const NalSyntax syntax_;
  H264Timeline timeline_;
  // A sequence parameter set as it passes by, up to the next start code:
  // the frame duration it declares goes to the decode-time line. An SEI's
  // first byte: whether it is a recovery point.
  enum class Header : std::uint8_t { None, Sei, Sps };
  Header header_ = Header::None;
  void SetHeader(Header h) {
    header_ = h;
    readingHeader_ = h != Header::None;
    headerSkip_ = h == Header::Sei ? syntax_.headerBytes - 1 : 0;
  }
  std::uint32_t headerSkip_ = 0;  // NAL header bytes still to pass
  static constexpr std::uint32_t kSpsBytes = 256;
  std::array<std::uint8_t, kSpsBytes> sps_{};
  std::uint32_t spsLength_ = 0;
  bool auPending_ = false;
  std::uint32_t auPts_ = 0;
  bool auPtsValid_ = false;
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
  // After lost packets: waiting for a random-access point (resync_); the
  // head of the current access unit is held until its first slice
  // (resyncHold_); the rest of an access unit is left out (dropUnit_).
  bool resync_ = false;
  bool resyncHold_ = false;
  std::uint32_t resyncUnits_ = 0;  // access units left out while waiting
  bool dropUnit_ = false;
  bool recoveryPoint_ = false;
  // Output started or resumed at a CRA or BLA: each access unit is held
  // until its first slice, and left out while it is a RASL picture.
  bool skipLeading_ = false;
  NalKind auKind_ = NalKind::Other;  // the first slice of the current access unit  // the current access unit has a recovery point SEI
  // Access units are found by their delimiters once one was seen; before,
  // by the NAL units that begin them (a slice NAL unit came since the last).
  bool delimiterSeen_ = false;
  bool vclSeen_ = true;
  std::span<std::uint8_t> capture_;  // in the shared store
};

}  // namespace kelvor
