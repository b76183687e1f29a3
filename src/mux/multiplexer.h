#pragma once
// The output multiplexer: lays out the headers and packet templates of the
// chosen container, cuts audio frames and video bytes into packs or TS
// packets, places time stamps, stamps every packet with the multiplexer
// clock, repeats the header material every 100 ms of that clock, and hands
// each finished packet to the output.
//
// There is no buffer model and no reordering: packets go out in the order the
// data arrives. The clock is pulled forward so that it never lags more than
// 100 ms behind the stream that is furthest behind.
#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "io/packet_sink.h"
#include "mux/access_unit_sink.h"
#include "mux/mux_layout.h"
#include "mux/run_settings.h"

namespace kelvor {

inline constexpr std::uint32_t kNoPts = 0xFFFFFFFF;
inline constexpr std::uint32_t kHeaderInterval = 9000;       // 100 ms
inline constexpr std::uint32_t kMaxPcrGap = 9000;            // TS/M2TS: PCRs at most 100 ms apart
inline constexpr std::uint32_t kMaxHeaderGap = 36000;        // TS/M2TS: PAT/PMT at most 400 ms apart
inline constexpr std::uint32_t kMpegAudioFrameTicks = 2160;  // 1152 samples at 48 kHz
inline constexpr std::uint32_t kAc3FrameTicks = 2880;        // 1536 samples at 48 kHz
inline constexpr std::uint32_t kTemplateSize = 2048;

// Clock and time stamps of the run, private to the multiplexer: a track's
// output time starts at its first time stamp (StartTrack) and the writers
// advance it.
struct MuxClock {
  std::uint32_t muxClock = 0;        // clock of the next packet
  std::uint32_t nextHeaderTime = 0;  // header material is due at or after this
  std::array<std::uint32_t, kMaxAudioOutputs> pendingPts{};  // per audio track
  std::uint32_t pendingVideoPts = kNoPts;
  std::array<std::uint32_t, kMaxAudioOutputs> trackOutTime{};
  std::array<bool, kMaxAudioOutputs> outTimeSet{};
  // TS/M2TS: the value of the last PCR written, once there is one.
  std::uint32_t lastPcr = 0;
  bool pcrWritten = false;
  // TS/M2TS: the clock at the last PAT.
  std::uint32_t lastHeaderTime = 0;
};

// Packetising state of one output stream.
struct StreamPacketState {
  std::uint8_t* packetTemplate = nullptr;
  std::uint8_t* cursor = nullptr;  // where the next payload byte goes
  std::uint32_t remaining = 0;     // free payload bytes in the packet being filled
  bool ptsPlaced = false;          // the first packet (PS: the current pack) has a PTS
  bool followingInUse = false;     // TS: filling the following packet
  std::uint8_t continuityCounter = 0;
  // Payload area of the first packet of a PES packet and of the ones after.
  std::uint32_t firstOffset = 0;
  std::uint32_t firstSize = 0;
  std::uint32_t contOffset = 0;
  std::uint32_t contSize = 0;
  // PS AC-3: the sub-stream header's frame count and first access unit
  // pointer (DVD output fills them; plain program streams leave them zero).
  bool subStreamHeader = false;
  std::uint8_t framesStarted = 0;
  std::uint16_t firstFramePointer = 0;
};

class Multiplexer {
 public:
  // All references must outlive the multiplexer. The templates are
  // allocated here, once.
  Multiplexer(PacketSink& output, const RunSettings& run);

  // Per-run reset of the clock and time stamps, done with the other resets
  // at the start of a run.
  void ResetTiming();

  // Lays out `format`: header material and one template per stream, and
  // resets every stream's packetising state. Writes nothing.
  void BuildStreamHeaders(OutputFormat format);
  // Who writes the formats made of whole access units (none: they are not
  // offered). Set once, before the first run.
  void setAccessUnitSink(AccessUnitSink* sink) { unitSinkOwner_ = sink; }

  // Audio track k's output time starts at `time` (its first time stamp,
  // relative to the common start). Only the first call counts: true when
  // this one started the track.
  bool StartTrack(std::uint32_t track, std::uint32_t time);
  // The output time of audio track k's next frame.
  std::uint32_t TrackOutTime(std::uint32_t track) const { return clock_.trackOutTime[track]; }

  // One MPEG audio frame of audio track k (a second call repeats it),
  // lasting `ticks` (the caller carries the fraction of frames that do not
  // last a whole number of ticks).
  bool WriteMpegAudioFrame(std::uint32_t track, std::span<const std::uint8_t> frame,
                           std::uint32_t ticks = kMpegAudioFrameTicks);
  // One AC-3 frame of private track j (the transcoded frame for E-AC-3).
  // An E-AC-3 frame written as it came lasts its own blocks (`ticks`).
  bool WriteAc3Frame(std::uint32_t privateTrack, std::span<const std::uint8_t> frame,
                     std::uint32_t ticks = kAc3FrameTicks);

  // The PTS of the video PES packet (PS: the pack) being filled.
  bool PlaceVideoPts(std::uint32_t pts);
  // The video PES packet being filled has its PTS (or goes without one):
  // later units in it carry none.
  bool VideoPtsPlaced() const { return video_.ptsPlaced; }
  void KeepVideoPesUntimed() { video_.ptsPlaced = true; }
  bool WriteVideoBytes(std::span<const std::uint8_t> data);
  // PS, H.264: a timed access unit begins a new pack, so the rest of a pack
  // that already has its PTS is filled with filler data; so does the rest
  // of one without a PTS that has no room for the unit's start code and
  // NAL header. False only when the output refused a packet.
  bool PadPackBeforeTimedUnit();
  // TS/M2TS: the video PES packet ends here, its last packet padded with
  // adaptation-field stuffing, and the next byte starts a new one. A PES
  // packet that nothing was written to stays open.
  bool EndVideoPes();
  // DVD: a sequence header, or a GOP header without one, begins a video
  // object unit: the video pack being filled is closed and a navigation
  // pack goes out, so that the next video byte opens a pack of its own.
  // Nothing happens in the other containers.
  bool StartVideoUnit();

  // End-of-run flush of what is still pending; stops at a refused packet.
  bool FinishOutput(bool videoOutputOn);

  const MuxLayout& layout() const { return layout_; }
  const MuxClock& clock() const { return clock_; }
  std::uint8_t patCounter() const { return patCounter_; }
  std::uint8_t headerCounter() const { return headerCounter_; }

 private:
  struct Buffers {
    std::array<std::uint8_t, kTemplateSize> header{};
    std::array<std::uint8_t, kTemplateSize> video{};
    std::array<std::uint8_t, kTemplateSize> nav{};  // DVD navigation pack
    std::array<std::array<std::uint8_t, kTemplateSize>, kMaxAudioOutputs> audio{};
  };

  // Tests set the clock's state directly.
  friend struct MuxTestAccess;

  // Stamps a packet with the clock (SCR, M2TS arrival time) and advances the
  // clock by one step.
  void StampPacket(std::uint8_t* packet);
  // The clock step taken before each new PTS: pulls the clock forward and
  // writes the header material when it is due.
  bool AdvanceClock();
  void PlacePts(StreamPacketState& s, std::uint32_t pts);
  void ClearPts(StreamPacketState& s);
  // TS/M2TS: writes the packet being filled, padded with adaptation-field
  // stuffing; the caller then starts the next PES packet.
  bool FlushPartialPacket(StreamPacketState& s);
  void ResetStream(StreamPacketState& s, std::uint8_t* tmpl, bool psAc3);
  void StartNewPes(StreamPacketState& s);
  bool EmitFullPacket(StreamPacketState& s);
  bool CopyPayload(StreamPacketState& s, std::span<const std::uint8_t> data);
  bool WriteHeaderMaterial();
  // TS/M2TS: writes a PCR packet first when the next `packets` packets
  // (the last of them a PCR) would leave more than kMaxPcrGap since the
  // last PCR.
  bool WritePcrIfDue(std::uint32_t packets);
  bool WritePcrPacket();
  // Pulls the clock forward to `time`; a TS or M2TS output gets PCR packets
  // on the way, so that a jump keeps the PCRs within kMaxPcrGap.
  bool MoveClockTo(std::uint32_t time);
  bool WriteAudioFrame(std::uint32_t track, std::uint32_t ticks,
                       std::span<const std::uint8_t> frame);
  // What fills free room too small for a padding packet (1 to 6 bytes).
  enum class ShortRoom : std::uint8_t {
    HeaderStuffing,  // stuffing bytes in the PES header: the payload is intact
    ZeroBytes,       // zero bytes after the payload (DVD video: before a start code)
  };
  // Writes the partly filled pack of `s`, its free room as a padding packet
  // (or, if too small for one, as `shortRoom` says).
  bool ClosePack(StreamPacketState& s, ShortRoom shortRoom = ShortRoom::HeaderStuffing);
  // DVD AC-3: counts a frame that starts at the cursor, and writes the
  // counts into the pack about to go out.
  void NoteFrameStart(StreamPacketState& s);
  void WriteSubStreamCounts(StreamPacketState& s);
  bool WriteNavPack();
  void SetContinuityCounter(std::uint8_t* packet, std::uint8_t& counter) const;
  bool Append(const std::uint8_t* packet) {
    return output_.AppendPacket({packet, layout_.packetSize});
  }

  AccessUnitSink* unitSinkOwner_ = nullptr;
  AccessUnitSink* units_ = nullptr;  // this run's, when its format takes whole units
  PacketSink& output_;
  const RunSettings& run_;
  std::unique_ptr<Buffers> buffers_;

  MuxLayout layout_{};
  MuxClock clock_{};
  StreamPacketState video_{};
  std::array<StreamPacketState, kMaxAudioOutputs> audio_{};
  std::uint32_t audioSlots_ = 0;
  std::uint8_t headerCounter_ = 0;  // PMT continuity_counter
  std::uint8_t patCounter_ = 0;     // PAT continuity_counter
  // DVD: a navigation pack has gone out, and video bytes since the last one.
  bool navWritten_ = false;
  bool videoSinceNav_ = false;
};

}  // namespace kelvor
