#pragma once
// The command line's listener for the discontinuities of a conversion: keeps
// each event (room reserved once, capped) for the --report JSON and, with
// -v, prints it on stderr as it happens.
#include <cstdint>
#include <string>
#include <vector>

#include "common/ui_port.h"
#include "convert/conversion_events.h"
#include "scan/track_table.h"

namespace kelvor::cli {

class DropReport : public ConversionEvents {
 public:
  // Events beyond this are counted, not kept.
  static constexpr std::size_t kMaxEvents = 10000;

  DropReport();

  // Before each file: forget its events; `tracks` names the audio tracks
  // (the run's table, read when an event comes); `live`, when set, shows
  // each event as it comes (the port ends a progress bar's line first).
  void Begin(const TrackTable* tracks, UiPort* live);
  void OnDiscontinuity(const DropEvent& event) override;

  const std::vector<DropEvent>& events() const { return events_; }
  std::size_t eventsLeftOut() const { return leftOut_; }

  // The events of the file as a JSON array.
  std::string JsonEvents() const;
  // One line of text for the terminal.
  std::string Describe(const DropEvent& event) const;

 private:
  std::vector<DropEvent> events_;
  std::size_t leftOut_ = 0;
  const TrackTable* tracks_ = nullptr;
  UiPort* live_ = nullptr;
};

// "video_loss", "audio_loss", "jump", "repeat".
const char* DropKindName(DropKind kind);
// Ticks as seconds with three decimals.
std::string Seconds(std::int64_t ticks);

}  // namespace kelvor::cli
