#pragma once
// Builders shared by the multiplexer tests: a sink that keeps every packet,
// and track tables for the usual selections.
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "common/mpeg_ids.h"
#include "io/packet_sink.h"
#include "mux/multiplexer.h"
#include "mux/run_settings.h"
#include "convert/run_setup.h"
#include "scan/track_table.h"

namespace kelvor {

// The multiplexer's clock, set directly by the clock tests.
struct MuxTestAccess {
  static MuxClock& Clock(Multiplexer& mux) { return mux.clock_; }
  static bool AdvanceClock(Multiplexer& mux) { return mux.AdvanceClock(); }
};

}  // namespace kelvor

namespace kelvor::test {

class RecordingSink : public PacketSink {
 public:
  bool AppendPacket(std::span<const std::uint8_t> packet) override {
    if (refuseAfter >= 0 && static_cast<int>(packets.size()) >= refuseAfter) return false;
    packets.emplace_back(packet.begin(), packet.end());
    return true;
  }
  std::vector<std::vector<std::uint8_t>> packets;
  int refuseAfter = -1;  // refuse every packet after this many
};

inline void AddAudioTrack(TrackTable& t, std::uint32_t pid, Codec codec, const char* language) {
  Track track{pid, codec == Codec::MpegAudio ? kFirstMpegAudioStreamId : kPrivateStream1Id, codec};
  if (language != nullptr) {
    track.hasLanguage = true;
    std::memcpy(track.language.data(), language, 4);
  }
  t.addAudio(track);
}

inline void AddMpegTrack(TrackTable& t, std::uint32_t pid, const char* language = nullptr) {
  AddAudioTrack(t, pid, Codec::MpegAudio, language);
}

inline void AddPrivateTrack(TrackTable& t, std::uint32_t pid, const char* language = nullptr) {
  AddAudioTrack(t, pid, Codec::Ac3, language);
}

// A track table, run settings and multiplexer wired together.
struct MuxRig {
  TrackTable tracks;
  RunSettings run;
  RecordingSink sink;
  Multiplexer mux{sink, run};

  void build(OutputFormat format, bool convert = false) {
    ConfigureRun(run, tracks, convert);
    mux.ResetTiming();
    mux.BuildStreamHeaders(format);
  }
  // Packets of one PID (TS/M2TS), prefix skipped.
  std::vector<std::vector<std::uint8_t>> packetsOf(std::uint16_t pid,
                                                   std::uint32_t prefix = 0) const {
    std::vector<std::vector<std::uint8_t>> out;
    for (const auto& p : sink.packets) {
      const std::uint8_t* ts = p.data() + prefix;
      if (((ts[1] & 0x1F) << 8 | ts[2]) == pid) out.emplace_back(p.begin() + prefix, p.end());
    }
    return out;
  }
};

inline std::uint32_t ReadPts(const std::uint8_t* p) {
  return (static_cast<std::uint32_t>(p[0] & 0x06) << 29) |
         (static_cast<std::uint32_t>(p[1]) << 22) |
         (static_cast<std::uint32_t>(p[2] & 0xFE) << 14) | (static_cast<std::uint32_t>(p[3]) << 7) |
         (p[4] >> 1);
}

// One elementary stream taken back out of our output: its bytes and the
// PTS of each PES packet (or pack) that carried one.
struct Demuxed {
  std::vector<std::uint8_t> bytes;
  std::vector<std::uint32_t> pts;
};

// TS/M2TS: the payload of `pid`, PES headers removed.
inline Demuxed DemuxTs(const std::vector<std::vector<std::uint8_t>>& packets, std::uint16_t pid,
                       std::uint32_t prefix) {
  Demuxed d;
  for (const auto& p : packets) {
    const std::uint8_t* ts = p.data() + prefix;
    if (((ts[1] & 0x1F) << 8 | ts[2]) != pid || (ts[3] & 0x10) == 0) continue;
    std::size_t at = (ts[3] & 0x20) != 0 ? 5u + ts[4] : 4u;
    if ((ts[1] & 0x40) != 0) {
      if ((ts[at + 7] & 0x80) != 0) d.pts.push_back(ReadPts(ts + at + 9));
      at += 9u + ts[at + 8];
    }
    d.bytes.insert(d.bytes.end(), ts + at, ts + 188);
  }
  return d;
}

// Program stream: the payload of `streamId` (AC-3: sub-stream `subStreamId`).
inline Demuxed DemuxPs(const std::vector<std::vector<std::uint8_t>>& packs, std::uint8_t streamId,
                       int subStreamId = -1) {
  Demuxed d;
  for (const auto& p : packs) {
    std::size_t at = 14u + (p[13] & 7);
    while (at + 6 <= p.size() && p[at] == 0 && p[at + 1] == 0 && p[at + 2] == 1) {
      const std::uint8_t id = p[at + 3];
      const std::size_t end = at + 6 + (std::size_t{p[at + 4]} << 8 | p[at + 5]);
      if (id == streamId && end <= p.size()) {
        if ((p[at + 7] & 0x80) != 0) d.pts.push_back(ReadPts(p.data() + at + 9));
        std::size_t from = at + 9 + p[at + 8];
        if (subStreamId < 0 || p[from] == subStreamId) {
          if (subStreamId >= 0) from += 4;
          d.bytes.insert(d.bytes.end(), p.begin() + static_cast<std::ptrdiff_t>(from),
                         p.begin() + static_cast<std::ptrdiff_t>(end));
        }
      }
      at = end;
    }
  }
  return d;
}

inline std::vector<std::uint8_t> Bytes(std::initializer_list<std::uint8_t> list) { return list; }

}  // namespace kelvor::test
