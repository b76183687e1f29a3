#include "app/logic/track_selection.h"

#include <algorithm>
#include <span>

namespace kelvor {

SelectionEffect ApplyTrackSelection(TrackTable& tracks, int row) {
  if (row < 0) return {};
  const std::uint32_t count = std::min<std::uint32_t>(tracks.trackChoiceCount, kMaxTrackChoices);
  const auto choices = std::span(tracks.trackChoices).first(count);
  const auto it = std::find_if(choices.begin(), choices.end(), [row](const TrackChoice& c) {
    return c.listIndex == static_cast<std::uint32_t>(row);
  });
  if (it == choices.end()) return {};

  const std::uint32_t pid = it->pid;
  tracks.selectedAudioPid = pid;
  const auto all = tracks.audioTracks();
  tracks.selectedIsPrivate = std::any_of(all.begin(), all.end(), [pid](const Track& t) {
    return IsAc3Family(t.codec) && (pid == kAllTracks || t.pid == pid);
  });
  return {true, tracks.selectedIsPrivate};
}

}  // namespace kelvor
