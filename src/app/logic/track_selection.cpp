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
  const std::uint32_t privateCount =
      std::min<std::uint32_t>(tracks.privateAudioCount, kMaxPrivateAudioTracks);
  const auto privatePids = std::span(tracks.privateAudioPid).first(privateCount);
  tracks.selectedIsPrivate =
      (pid == kAllTracks && privateCount > 0) ||
      std::find(privatePids.begin(), privatePids.end(), pid) != privatePids.end();
  return {true, tracks.selectedIsPrivate};
}

}  // namespace kelvor
