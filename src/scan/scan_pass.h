#pragma once
// The first pass over the input: walks the start of the transport stream,
// finds the video stream and up to four MPEG audio and four AC-3/E-AC-3
// tracks of the programme, reads the PMT, probes each track's headers, fills
// the TrackTable, lists one row per usable track and names every other
// stream of the programme with the reason it is not carried.
#include <array>
#include <cstdint>
#include <span>

#include "common/ts_packet.h"
#include "common/ui_port.h"
#include "io/input_view.h"
#include "scan/ac3_probe.h"
#include "scan/audio_format_probe.h"
#include "scan/mpeg_audio_probe.h"
#include "scan/programme_table.h"
#include "scan/track_table.h"
#include "scan/video_probe.h"

namespace kelvor {

// What the scan learnt beyond the TrackTable, for reports and scripts.
struct ScanSummary {
  bool inputOpened = false;
  bool inputError = false;          // the input window could not be moved
  std::uint32_t packetSize = 0;     // 188, 192 or 204 once synchronised, else 0
  std::uint64_t bytesScanned = 0;
  bool videoFound = false;          // the video probe succeeded
  // What the probe found on each kept track, by its TrackTable index (the
  // one of the track's codec).
  std::array<AudioProbeResult, kMaxAudioTracks> mpegAudio{};
  std::array<Ac3ProbeResult, kMaxAudioTracks> privateAudio{};
  std::array<AudioFormat, kMaxAudioTracks> aacAudio{};
  // The streams of the programme that are not carried (and, in a stream
  // without a PMT, the audio PIDs found and not offered): what each one is
  // and why it is left out.
  struct NotCarried {
    std::uint32_t pid = 0;
    std::uint8_t streamType = 0;  // 0 when no PMT lists it
    Codec codec = Codec::None;
    std::array<char, 4> language{};  // empty when none is given
    std::uint8_t audioType = 0;      // of its ISO 639 language descriptor
    bool hearingImpaired = false;    // subtitles for the hard of hearing
    std::array<char, 48> found{};    // what its headers say, when read
    std::array<char, 64> reason{};
  };
  static constexpr std::size_t kMaxNotCarried = 32;
  std::array<NotCarried, kMaxNotCarried> notCarried{};
  std::uint32_t notCarriedCount = 0;
  // The programmes of the PAT and the PMTs read.
  ProgrammeTable programmes;
};

class ScanPass {
 public:
  static constexpr std::uint64_t kEnoughBytes = 0xA00000;   // 10 MiB once audio and video are probed
  static constexpr std::uint64_t kMaxBytes = 0x6400000;     // 100 MiB in any case
  static constexpr std::size_t kPmtBufferSize = 1024;

  ScanPass(InputView& input, TrackTable& tracks, H264IdrState& idr, UiPort& ui);

  // Scans the file named by the input view, lists the rows and reports
  // finished() to the UI. Runs on a worker thread; polls abortRequested.
  void run();

  const ScanSummary& summary() const { return summary_; }

 private:
  struct MpegTrack {
    std::uint32_t pid = 0;
    std::uint8_t streamId = 0;
    bool probeDone = false;
    bool pending = false;
    std::uint8_t nextCC = 0;
    MpegAudioProbe probe;
    AudioProbeResult result;
  };
  struct PrivateTrack {
    std::uint32_t pid = 0;
    std::uint8_t streamId = 0;
    bool probeDone = false;
    bool pending = false;
    std::uint8_t nextCC = 0;
    Ac3Probe probe;
    Ac3ProbeResult result;
  };
  // A stream whose PMT entry names audio the conversion does not carry:
  // its headers are read for the report.
  struct FormatTrack {
    std::uint32_t pid = 0;
    Codec codec = Codec::None;
    AudioFormat format;
    std::uint8_t streamId = 0;  // of its first PES packet
  };
  static constexpr std::size_t kMaxFormatTracks = 16;
  // A PID refused because its kind's tracks were all taken.
  struct OverLimit {
    std::uint32_t pid = 0;
    bool mpeg = false;
  };
  static constexpr std::size_t kMaxOverLimit = 16;
  // How a packet continuing a pending probe is taken.
  enum class Continuity { Next, Repeated, Broken };

  void start();
  void handlePacket(const std::uint8_t* p);
  void handlePesStart(const std::uint8_t* p, const TsHeader& h);
  void handleSectionStart(const std::uint8_t* p, std::uint32_t pid, std::uint8_t cc, std::uint32_t start);
  void handleContinuation(const std::uint8_t* p, std::uint32_t pid, std::uint8_t cc, std::uint32_t start);
  void parsePmtIfComplete();
  void handlePat(const std::uint8_t* p, std::uint32_t start);
  void notePacket(const std::uint8_t* p);
  bool continuesItsPid() const;
  // A video PID that the chosen programme (if one was asked for) carries.
  bool videoAllowed(std::uint32_t pid) const;
  // The video's coding is known: from its programme's PMT when there are
  // several, else from the first PMT.
  bool videoCodingKnown();
  // The PMT of another programme than the one taken lists this PID.
  bool otherProgrammes(std::uint32_t pid) const;
  void finish(bool opened);
  // The PMT value a section parses to; the first one accepted names the
  // video codec (until the video's own programme is known) and, in a
  // single-programme stream, the languages.
  bool takeFirstPmt(std::span<const std::uint8_t> section);
  // Fills the track record's PMT fields from the PMT its programme gave.
  void describeFromPmt(Track& track) const;
  // The codec a PMT read so far gives `pid` (None when none lists it).
  Codec declaredCodec(std::uint32_t pid) const;
  // The programme whose streams are taken is known, and `pid` is another's.
  bool foreign(std::uint32_t pid) const;
  // A PID that fills the last free slot of its kind takes one held by a PID
  // that is now known to be another programme's or of another codec.
  template <typename Slots>
  bool freeSlot(Slots& slots, std::uint32_t& count, bool mpeg);
  void noteOverLimit(std::uint32_t pid, bool mpeg);
  void probeFormat(std::uint32_t pid, Codec codec, std::span<const std::uint8_t> payload, std::uint8_t streamId);
  // The PMT the tracks are described from.
  const Pmt* describingPmt() const;
  // Names every stream of the programme taken that is not carried.
  void nameNotCarried();
  void addNotCarried(std::uint32_t pid, const char* reason);
  void addRow(const std::string& text);

  InputView& input_;
  TrackTable& tracks_;
  UiPort& ui_;
  VideoProbe videoProbe_;
  ScanSummary summary_;

  std::array<MpegTrack, kMaxMpegAudioTracks> mpeg_{};
  std::uint32_t mpegCount_ = 0;
  std::array<PrivateTrack, kMaxPrivateAudioTracks> private_{};
  std::uint32_t privateCount_ = 0;
  std::array<FormatTrack, kMaxFormatTracks> formats_{};
  std::uint32_t formatCount_ = 0;
  std::array<OverLimit, kMaxOverLimit> overLimit_{};
  std::uint32_t overLimitCount_ = 0;
  bool anyAudioProbed_ = false;
  bool videoPidKnown_ = false;
  bool videoProbed_ = false;
  bool videoPending_ = false;
  std::uint8_t videoNextCC_ = 0;
  bool pmtCollecting_ = false;
  bool pmtParsed_ = false;
  std::uint32_t pmtPid_ = 0;
  std::uint8_t pmtNextCC_ = 0;
  std::uint32_t pmtLength_ = 0;
  bool pmtSectionRead_ = false;  // the section collected went to programmes_
  Pmt firstPmt_;  // the first PMT accepted (or the last refused before one was)
  Pmt sectionPmt_;
  ProgrammeTable programmes_;
  // The continuity counter each PID's next packet should carry.
  static constexpr std::uint8_t kUnseenPid = 0xFF;
  std::array<std::uint8_t, 0x2000> nextCc_{};
  const Programme* taken_ = nullptr;  // at the end of the scan
  std::array<std::uint8_t, kPmtBufferSize> pmtBuffer_{};
  std::uint32_t packetSize_ = 188;
  std::uint32_t listRow_ = 0;
};

}  // namespace kelvor
