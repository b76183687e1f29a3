#pragma once
// Matroska output of a run: the tracks planned from the run's choices, each
// audio frame one block at its output time, the video's units (H.264 access
// units as the handler ends them) one block each, and chapters at the start
// and at every cut made.
#include <cstdint>
#include <span>

#include "convert/cut_plan.h"
#include "convert/matroska_tracks.h"
#include "io/packet_sink.h"
#include "matroska/matroska_muxer.h"
#include "mux/access_unit_sink.h"
#include "mux/run_settings.h"
#include "scan/track_table.h"

namespace kelvor {

class MatroskaOutput final : public AccessUnitSink {
 public:
  MatroskaOutput(PacketSink& output, const TrackTable& tracks, const RunSettings& run, const CutPlan& cuts)
      : muxer_(output), tracks_(tracks), run_(run), cuts_(cuts) {}

  void Start() override;
  [[nodiscard]] bool AudioFrame(std::uint32_t slot, std::uint32_t time, std::span<const std::uint8_t> frame) override;
  [[nodiscard]] bool VideoTime(std::uint32_t pts) override;
  [[nodiscard]] bool VideoBytes(std::span<const std::uint8_t> data) override;
  [[nodiscard]] bool EndVideoUnit() override;
  [[nodiscard]] bool Finish() override;

 private:
  mkv::MatroskaMuxer muxer_;
  const TrackTable& tracks_;
  const RunSettings& run_;
  const CutPlan& cuts_;
  MatroskaTrackPlan plan_;
  bool inUnit_ = false;
  bool timeKnown_ = false;  // the next unit's time came before its bytes
  std::uint32_t time_ = 0;
};

}  // namespace kelvor
