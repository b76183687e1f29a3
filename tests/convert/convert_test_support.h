#pragma once
// Builders shared by the conversion tests: one run's objects wired together
// over a recording sink, transport stream packets made from PES data, and a
// UI port that stops the run.
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "common/flags.h"
#include "convert/ac3_assembler.h"
#include "convert/audio_converter.h"
#include "convert/mpeg_audio_assembler.h"
#include "convert/h264_video_handler.h"
#include "convert/mpeg2_video_handler.h"
#include "mux/multiplexer.h"
#include "mux/mux_test_support.h"
#include "mux/run_settings.h"
#include "convert/stream_timing.h"
#include "scan/track_table.h"
#include "scan/video_probe.h"
#include "support/test_support.h"

namespace kelvor::test {

// Sets abortRequested at the first progress report of the conversion (after
// the first MiB of input), as a user's stop would.
class StopAtFirstProgress : public RecordingUiPort {
 public:
  void setStatusText(std::string_view text) override {
    converting_ = text.rfind("Converting", 0) == 0;
    RecordingUiPort::setStatusText(text);
  }
  void setProgress(unsigned percent) override {
    if (converting_) abortRequested = true;
    RecordingUiPort::setProgress(percent);
  }

 private:
  bool converting_ = false;
};

// An AudioConverter that records what it is given.
class RecordingConverter : public AudioConverter {
 public:
  void reset() override {}
  bool convertFrame(const ConvertedFrame& f, std::uint32_t&) override {
    frames.emplace_back(f.frame.begin(), f.frame.end());
    enhanced.push_back(f.isEac3);
    return true;
  }
  std::vector<std::vector<std::uint8_t>> frames;
  std::vector<bool> enhanced;  // handed over as E-AC-3
};

// The handlers of one run over a multiplexer that records its packets.
struct HandlerRig {
  TrackTable tracks;
  RunSettings run;
  StreamTiming timing;
  RecordingSink sink;
  Multiplexer mux{sink, run};
  H264IdrState idr;
  RecordingConverter converter;
  std::unique_ptr<VideoStore> videoStore = std::make_unique<VideoStore>();
  Mpeg2VideoHandler mpeg2Video{timing, mux, *videoStore};
  H264VideoHandler h264Video{timing, mux, idr, *videoStore};
  H264VideoHandler hevcVideo{timing, mux, idr, *videoStore, Codec::Hevc};
  MpegAudioAssembler mpeg{timing, mux};
  Ac3Assembler ac3{run, timing, mux, converter};

  void start(OutputFormat format, bool convert = false) {
    ConfigureRun(run, tracks, convert);
    timing.Reset();
    mux.ResetTiming();
    mux.BuildStreamHeaders(format);
    mpeg2Video.Reset();
    h264Video.Reset();
    hevcVideo.Reset();
    mpeg.Reset();
    ac3.Reset();
  }
  void startAt(std::uint32_t startBase) {
    timing.startFound = true;
    timing.startBase = startBase;
  }
  std::size_t packetCount() const { return sink.packets.size(); }
};

// The payload bytes of every packet of `pid` in TS output, PES headers
// included, in order.
inline std::vector<std::uint8_t> TsPayloadOf(const RecordingSink& sink, std::uint16_t pid) {
  std::vector<std::uint8_t> out;
  for (const auto& p : sink.packets) {
    if (p.size() != 188 || (((p[1] & 0x1F) << 8) | p[2]) != pid) continue;
    std::size_t start = (p[3] & 0x20) ? 5u + p[4] : 4u;
    out.insert(out.end(), p.begin() + static_cast<std::ptrdiff_t>(start), p.end());
  }
  return out;
}

// The elementary stream of `pid` in TS output: PES headers removed.
inline std::vector<std::uint8_t> TsElementaryOf(const RecordingSink& sink, std::uint16_t pid) {
  std::vector<std::uint8_t> out;
  for (const auto& p : sink.packets) {
    if (p.size() != 188 || (((p[1] & 0x1F) << 8) | p[2]) != pid) continue;
    std::size_t start = (p[3] & 0x20) ? 5u + p[4] : 4u;
    if ((p[1] & 0x40) != 0) start += 9u + p[start + 8];
    out.insert(out.end(), p.begin() + static_cast<std::ptrdiff_t>(start), p.end());
  }
  return out;
}

// Transport stream input made packet by packet.
class TsBuilder {
 public:
  // One PES packet of `pid`, cut into as many TS packets as needed; the
  // continuity counter of the PID advances by one per packet.
  void pes(std::uint16_t pid, std::uint8_t streamId, std::span<const std::uint8_t> data,
           std::int64_t pts = -1) {
    std::vector<std::uint8_t> bytes{0x00, 0x00, 0x01, streamId, 0x00, 0x00, 0x80};
    if (pts >= 0) {
      const auto t = static_cast<std::uint64_t>(pts);
      bytes.insert(bytes.end(), {0x80, 0x05, static_cast<std::uint8_t>(0x21 | ((t >> 29) & 0x0E)),
                                 static_cast<std::uint8_t>(t >> 22),
                                 static_cast<std::uint8_t>((t >> 14) | 1),
                                 static_cast<std::uint8_t>(t >> 7),
                                 static_cast<std::uint8_t>((t << 1) | 1)});
    } else {
      bytes.insert(bytes.end(), {0x00, 0x00});
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::size_t pos = 0;
    bool first = true;
    while (pos < bytes.size()) {
      const std::size_t take = std::min<std::size_t>(184, bytes.size() - pos);
      packet(pid, first, std::span(bytes).subspan(pos, take));
      pos += take;
      first = false;
    }
  }
  // One TS packet; a short payload is preceded by adaptation-field stuffing.
  void packet(std::uint16_t pid, bool unitStart, std::span<const std::uint8_t> payload) {
    std::vector<std::uint8_t> p(188, 0xFF);
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((unitStart ? 0x40 : 0) | (pid >> 8));
    p[2] = static_cast<std::uint8_t>(pid);
    std::uint8_t& cc = counters_[pid];
    const std::size_t stuffing = 184 - payload.size();
    p[3] = static_cast<std::uint8_t>((stuffing > 0 ? 0x30 : 0x10) | (cc & 0x0F));
    cc = static_cast<std::uint8_t>(cc + 1);
    if (stuffing > 0) {
      p[4] = static_cast<std::uint8_t>(stuffing - 1);
      if (stuffing > 1) p[5] = 0x00;
    }
    std::copy(payload.begin(), payload.end(), p.begin() + static_cast<std::ptrdiff_t>(4 + stuffing));
    bytes_.insert(bytes_.end(), p.begin(), p.end());
  }
  // Repeats the last packet written, as a receiver sometimes does.
  void repeatLast() {
    std::vector<std::uint8_t> last(bytes_.end() - 188, bytes_.end());
    bytes_.insert(bytes_.end(), last.begin(), last.end());
  }
  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint8_t counters_[0x2000]{};
};

}  // namespace kelvor::test
