#pragma once
// Where the packets of each PID go during one run, built once at its start
// from the track table: the video handler, and the audio track (its table
// index) of each kind carried on the PID. A packet's route is one look-up.
#include <array>
#include <cstdint>

#include "mux/run_settings.h"
#include "scan/track_table.h"

namespace kelvor {

class PidRoutes {
 public:
  static constexpr std::uint8_t kNoTrack = 0xFF;
  struct Route {
    std::uint8_t mpegAudio = kNoTrack;  // track table index
    std::uint8_t ac3 = kNoTrack;        // of an AC-3/E-AC-3 track
    bool video = false;
  };

  // The run's tracks: the first of each kind on a PID takes it.
  void Build(const TrackTable& tracks, const RunSettings& run) {
    routes_.fill(Route{});
    for (std::uint32_t k = 0; k < run.audioTrackTotal; ++k) {
      const Track& t = tracks.audio[k];
      if (t.pid >= routes_.size()) continue;
      std::uint8_t& to = IsAc3Family(t.codec) ? routes_[t.pid].ac3 : routes_[t.pid].mpegAudio;
      if (to == kNoTrack) to = static_cast<std::uint8_t>(k);
    }
    if (tracks.video.pid < routes_.size()) routes_[tracks.video.pid].video = true;
  }
  const Route& operator[](std::uint32_t pid) const { return routes_[pid & 0x1FFF]; }

 private:
  std::array<Route, 0x2000> routes_{};
};

}  // namespace kelvor
