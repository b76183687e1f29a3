#include "convert/run_setup.h"

#include <algorithm>
#include <span>

namespace kelvor {

namespace {

// The choice holds an AC-3/E-AC-3 track: the only case the conversion to
// MPEG audio applies to.
bool ChoiceHasPrivateTrack(const TrackTable& tracks, std::uint32_t privateCount) {
  if (tracks.selectedAudioPid == kAllTracks) return privateCount > 0;
  const auto pids = std::span(tracks.privateAudioPid).first(privateCount);
  return std::find(pids.begin(), pids.end(), tracks.selectedAudioPid) != pids.end();
}

}  // namespace

void ConfigureRun(RunSettings& run, const TrackTable& tracks, bool convert) {
  run = RunSettings{};
  convert = convert && ChoiceHasPrivateTrack(
                           tracks, std::min<std::uint32_t>(tracks.privateAudioCount, kMaxPrivateAudioTracks));
  run.videoIsH264 = tracks.videoIsH264;
  run.videoBitRate = tracks.videoBitRate;
  run.convertAc3ToMpeg = convert;
  run.mpegAudioCount = std::min<std::uint32_t>(tracks.mpegAudioCount, kMaxMpegAudioTracks);
  run.privateAudioCount = std::min<std::uint32_t>(tracks.privateAudioCount, kMaxPrivateAudioTracks);
  run.audioTrackTotal = run.mpegAudioCount + run.privateAudioCount;
  run.allTracks = tracks.selectedAudioPid == kAllTracks;

  if (run.audioTrackTotal == 0) {
    run.mpegOutCount = run.ac3OutCount = 0;  // the video alone
  } else if (run.allTracks) {
    run.mpegOutCount = convert ? run.audioTrackTotal : run.mpegAudioCount;
    run.ac3OutCount = convert ? 0 : run.privateAudioCount;
  } else if (tracks.selectedIsPrivate && !convert) {
    run.mpegOutCount = 0;
    run.ac3OutCount = 1;
  } else {
    run.mpegOutCount = 1;
    run.ac3OutCount = 0;
  }

  run.outputCount = 0;
  auto add = [&](std::uint32_t track, std::uint32_t pid, bool fromPrivate) {
    AudioOutput& out = run.outputs[run.outputCount++];
    out.track = track;
    out.slot = run.slotOf(track);
    out.pid = pid;
    out.fromPrivate = fromPrivate;
    out.ac3 = fromPrivate && !convert;
    if (const char* code = tracks.languageFor(pid)) {
      out.hasLanguage = true;
      std::copy_n(code, 3, out.language.begin());
    }
  };
  for (std::uint32_t i = 0; i < run.mpegAudioCount; ++i) {
    if (run.allTracks || tracks.mpegAudioPid[i] == tracks.selectedAudioPid) {
      add(run.mpegTrack(i), tracks.mpegAudioPid[i], false);
      if (!run.allTracks) return;
    }
  }
  for (std::uint32_t j = 0; j < run.privateAudioCount; ++j) {
    if (run.allTracks || tracks.privateAudioPid[j] == tracks.selectedAudioPid) {
      add(run.privateTrack(j), tracks.privateAudioPid[j], true);
      if (!run.allTracks) return;
    }
  }
}

}  // namespace kelvor
