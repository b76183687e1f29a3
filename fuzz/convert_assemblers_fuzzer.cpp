// libFuzzer target for the MPEG audio and AC-3 frame assemblers, behind
// them the multiplexer, writing to memory.
//
// Input: one control byte, then pieces of PES payload. Control bit 0: 0 the
// MPEG audio assembler, 1 the AC-3 assembler; bits 1-2: the output format
// (PS, TS, M2TS; 3 is PS); bit 3: late frames wait for the video; bit 4: the
// AC-3 assembler hands every frame to the audio converter (as when AC-3 is
// converted to MPEG audio). Private tracks 1 and 3 are E-AC-3.
// Each piece: a flags byte, a length byte, a 16-bit time step, then that
// many payload bytes. Flags bit 0: the piece starts a PES packet; bit 1: it
// has a PTS (the time so far plus the step; bit 3: minus); bit 2: the video
// placed a time stamp after it (held frames go out); bits 4-5: the track.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "convert/ac3_assembler.h"
#include "convert/audio_converter.h"
#include "convert/mpeg_audio_assembler.h"
#include "convert/pes_stamp.h"
#include "convert/run_setup.h"
#include "convert/stream_timing.h"
#include "io/packet_sink.h"
#include "mux/multiplexer.h"
#include "mux/mux_layout.h"
#include "mux/run_settings.h"
#include "scan/track_table.h"

namespace {

// Takes the packets in memory: only their size is checked.
class MemorySink final : public kelvor::PacketSink {
 public:
  std::size_t packetSize = 0;
  bool AppendPacket(std::span<const std::uint8_t> packet) override {
    if (packet.size() != packetSize) std::abort();
    return true;
  }
};

// Takes every frame it is given, as a converter that writes nothing would.
class AcceptingConverter final : public kelvor::AudioConverter {
 public:
  void reset() override {}
  bool convertFrame(const kelvor::ConvertedFrame& frame, std::uint32_t&) override {
    if (frame.frame.size() < 6 || frame.frame[0] != 0x0B || frame.frame[1] != 0x77) std::abort();
    return true;
  }
};

// One run's objects, made fresh for every input.
struct Rig {
  kelvor::TrackTable tracks;
  kelvor::RunSettings run;
  kelvor::StreamTiming timing;
  MemorySink sink;
  kelvor::Multiplexer mux{sink, run};
  AcceptingConverter converter;
  kelvor::MpegAudioAssembler mpeg{timing, mux};
  kelvor::Ac3Assembler ac3{run, timing, mux, converter};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  const bool useAc3 = (control & 1u) != 0;
  const unsigned formatBits = (control >> 1) & 3u;
  const auto format = formatBits == 1 ? kelvor::OutputFormat::Ts
                      : formatBits == 2 ? kelvor::OutputFormat::M2ts
                                        : kelvor::OutputFormat::ProgramStream;

  const auto rig = std::make_unique<Rig>();
  for (std::uint32_t k = 0; k < 4; ++k) {
    if (useAc3) {
      rig->tracks.addAudio({0x200 + k, 0xBD, (k & 1u) != 0 ? kelvor::Codec::Eac3 : kelvor::Codec::Ac3});
    } else {
      rig->tracks.addAudio({0x100 + k, static_cast<std::uint8_t>(0xC0 + k), kelvor::Codec::MpegAudio});
    }
  }
  kelvor::ConfigureRun(rig->run, rig->tracks, useAc3 && (control & 16u) != 0);
  rig->timing.Reset();
  rig->mux.ResetTiming();
  rig->mux.BuildStreamHeaders(format);
  rig->sink.packetSize = rig->mux.layout().packetSize;
  rig->mpeg.Reset();
  rig->ac3.Reset();
  rig->mpeg.FollowVideo((control & 8u) != 0);
  rig->ac3.FollowVideo((control & 8u) != 0);

  std::uint32_t pts = 0x10000;
  std::size_t pos = 1;
  while (pos + 4 <= size) {
    const std::uint8_t flags = data[pos];
    const std::size_t length = std::min<std::size_t>(data[pos + 1], size - pos - 4);
    const std::uint32_t step = (static_cast<std::uint32_t>(data[pos + 2]) << 8) | data[pos + 3];
    const std::span<const std::uint8_t> piece(data + pos + 4, length);
    pos += 4 + length;
    const std::uint32_t track = (flags >> 4) & 3u;
    pts = (flags & 8u) ? pts - step : pts + step;
    const kelvor::PesStamp stamp{pts, (flags & 2u) != 0, 0, false};
    if (stamp.ptsValid && !rig->timing.startFound) {  // the driver's start rule, in short
      rig->timing.startFound = true;
      rig->timing.startBase = pts - 9000;
    }
    bool ok = true;
    if (useAc3) {
      ok = (flags & 1u) ? rig->ac3.StartPes(piece, track, stamp) : rig->ac3.ContinuePes(piece, track);
      if (ok && (flags & 4u)) ok = rig->ac3.ReleaseHeld();
    } else {
      ok = (flags & 1u) ? rig->mpeg.StartPes(piece, track, stamp)
                        : rig->mpeg.ContinuePes(piece, track);
      if (ok && (flags & 4u)) ok = rig->mpeg.ReleaseHeld();
    }
    if (!ok) std::abort();  // the memory sink never refuses a packet
  }
  if (!(useAc3 ? rig->ac3.ReleaseHeld() : rig->mpeg.ReleaseHeld())) std::abort();
  rig->mux.FinishOutput(false);
  return 0;
}
