#include "convert/run_setup.h"

#include <algorithm>
#include <span>

namespace kelvor {

namespace {

// The choice holds an AC-3/E-AC-3 track: the only case the conversion to
// MPEG audio applies to.
bool ChoiceHasPrivateTrack(const TrackTable& tracks, std::span<const Track> privateTracks) {
  if (tracks.selectedAudioPid == kAllTracks) return !privateTracks.empty();
  return std::any_of(privateTracks.begin(), privateTracks.end(),
                     [&](const Track& t) { return t.pid == tracks.selectedAudioPid; });
}

// How many tracks from `from` on have a codec `wanted` accepts, at most `limit`.
template <typename Wanted>
std::uint32_t RunOf(std::span<const Track> tracks, std::uint32_t from, std::size_t limit, Wanted wanted) {
  std::uint32_t n = from;
  while (n < tracks.size() && n - from < limit && wanted(tracks[n].codec)) ++n;
  return n - from;
}

// Whole descriptors of `from` but the language (written from the track's
// own fields), as many as the room takes.
void KeepDescriptors(AudioOutput& out, std::span<const std::uint8_t> from) {
  constexpr std::uint8_t kLanguageTag = 0x0A;
  std::size_t at = 0;
  while (at + 2 <= from.size()) {
    const std::size_t size = 2u + from[at + 1];
    if (at + size > from.size()) return;
    if (from[at] != kLanguageTag && out.keptLength + size <= out.kept.size()) {
      std::copy_n(from.begin() + static_cast<std::ptrdiff_t>(at), size, out.kept.begin() + out.keptLength);
      out.keptLength = static_cast<std::uint8_t>(out.keptLength + size);
    }
    at += size;
  }
}

}  // namespace

void ConfigureRun(RunSettings& run, const TrackTable& tracks, bool convert, bool keepEac3) {
  run = RunSettings{};
  // The table's order: MPEG audio tracks, then AC-3/E-AC-3 tracks, as many
  // of each as their handlers take.
  const auto all = tracks.audioTracks();
  const std::uint32_t mpegCount =
      RunOf(all, 0, kMaxMpegAudioTracks, [](Codec c) { return c == Codec::MpegAudio || IsAacCodec(c); });
  const std::uint32_t privateCount = RunOf(all, mpegCount, kMaxPrivateAudioTracks, IsAc3Family);
  convert = convert && ChoiceHasPrivateTrack(tracks, all.subspan(mpegCount, privateCount));
  run.videoCodec = tracks.video.codec;
  run.videoBitRate = tracks.videoBitRate;
  run.convertAc3ToMpeg = convert;
  run.keepEac3 = keepEac3 && !convert;
  run.firstPrivateTrack = mpegCount;
  run.audioTrackTotal = mpegCount + privateCount;
  run.allTracks = tracks.selectedAudioPid == kAllTracks;

  if (run.audioTrackTotal == 0) {
    run.mpegOutCount = run.ac3OutCount = 0;  // the video alone
  } else if (run.allTracks) {
    run.mpegOutCount = convert ? run.audioTrackTotal : mpegCount;
    run.ac3OutCount = convert ? 0 : privateCount;
  } else if (tracks.selectedIsPrivate && !convert) {
    run.mpegOutCount = 0;
    run.ac3OutCount = 1;
  } else {
    run.mpegOutCount = 1;
    run.ac3OutCount = 0;
  }

  run.outputCount = 0;
  for (std::uint32_t k = 0; k < run.audioTrackTotal; ++k) {
    const Track& track = all[k];
    if (!run.allTracks && track.pid != tracks.selectedAudioPid) continue;
    AudioOutput& out = run.outputs[run.outputCount++];
    out.track = k;
    out.slot = run.slotOf(k);
    out.pid = track.pid;
    out.source = track.codec;
    out.ac3 = IsAc3Family(track.codec) && !convert;
    out.eac3 = out.ac3 && track.codec == Codec::Eac3 && run.keepEac3;
    if (const char* code = track.languageOrNull()) {
      out.hasLanguage = true;
      out.audioType = track.audioType;
      std::copy_n(code, 3, out.language.begin());
    }
    if (IsAacCodec(track.codec)) KeepDescriptors(out, track.descriptors());
    if (!run.allTracks) return;
  }
}

}  // namespace kelvor
