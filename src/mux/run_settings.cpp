#include "mux/run_settings.h"

#include <algorithm>

namespace kelvor {

void RunSettings::configure(const TrackTable& tracks, bool convert) {
  convertAc3ToMpeg = convert;
  mpegAudioCount = std::min<std::uint32_t>(tracks.mpegAudioCount, kMaxMpegAudioTracks);
  privateAudioCount = std::min<std::uint32_t>(tracks.privateAudioCount, kMaxPrivateAudioTracks);
  audioTrackTotal = mpegAudioCount + privateAudioCount;
  allTracks = tracks.selectedAudioPid == kAllTracks;

  if (allTracks) {
    mpegOutCount = convert ? audioTrackTotal : mpegAudioCount;
    ac3OutCount = convert ? 0 : privateAudioCount;
  } else if (tracks.selectedIsPrivate && !convert) {
    mpegOutCount = 0;
    ac3OutCount = 1;
  } else {
    mpegOutCount = 1;
    ac3OutCount = 0;
  }

  outputCount = 0;
  auto add = [&](std::uint32_t track, std::uint32_t pid, bool fromPrivate) {
    AudioOutput& out = outputs[outputCount++];
    out.track = track;
    out.slot = slotOf(track);
    out.pid = pid;
    out.fromPrivate = fromPrivate;
    out.ac3 = fromPrivate && !convert;
  };
  for (std::uint32_t i = 0; i < mpegAudioCount; ++i) {
    if (allTracks || tracks.mpegAudioPid[i] == tracks.selectedAudioPid) {
      add(mpegTrack(i), tracks.mpegAudioPid[i], false);
      if (!allTracks) return;
    }
  }
  for (std::uint32_t j = 0; j < privateAudioCount; ++j) {
    if (allTracks || tracks.privateAudioPid[j] == tracks.selectedAudioPid) {
      add(privateTrack(j), tracks.privateAudioPid[j], true);
      if (!allTracks) return;
    }
  }
}

const AudioOutput* RunSettings::outputForTrack(std::uint32_t track) const {
  for (std::uint32_t n = 0; n < outputCount; ++n) {
    if (outputs[n].track == track) return &outputs[n];
  }
  return nullptr;
}

const AudioOutput* RunSettings::outputForSlot(std::uint32_t slot) const {
  for (std::uint32_t n = 0; n < outputCount; ++n) {
    if (outputs[n].slot == slot) return &outputs[n];
  }
  return nullptr;
}

}  // namespace kelvor
