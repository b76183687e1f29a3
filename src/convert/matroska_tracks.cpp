#include "convert/matroska_tracks.h"

#include "matroska/track_descriptors.h"

namespace kelvor {

namespace {

mkv::TrackCodec AudioCodecOf(const AudioOutput& out, const Track& track) {
  if (out.eac3) return mkv::TrackCodec::Eac3;  // kept as it came
  if (out.ac3) return mkv::TrackCodec::Ac3;    // E-AC-3 too, unless kept: the run writes it as AC-3
  if (out.source == Codec::MpegAudio && track.mpegLayer == 1) return mkv::TrackCodec::MpegL1;
  return mkv::TrackCodec::MpegL2;  // MPEG audio, or AC-3 converted to it
}

}  // namespace

void PlanMatroskaTracks(const TrackTable& table, const RunSettings& run, bool withVideo, MatroskaTrackPlan& plan) {
  plan = MatroskaTrackPlan{};
  plan.trackOfSlot.fill(mkv::kNoTrack);
  if (withVideo) {
    mkv::TrackSetup& v = plan.setups[plan.count];
    v.codec = run.videoCodec == Codec::H264   ? mkv::TrackCodec::Avc
              : run.videoCodec == Codec::Hevc ? mkv::TrackCodec::Hevc
                                              : mkv::TrackCodec::Mpeg2Video;
    if (table.video.hasLanguage) v.language = table.video.language;
    v.isDefault = true;  // players pick a track to show by this flag
    plan.videoTrack = plan.count++;
  }
  for (std::uint32_t slot = 0; slot < run.slotCount() && slot < kMaxAudioOutputs; ++slot) {
    const AudioOutput* out = run.outputForSlot(slot);
    if (out == nullptr || out->track >= table.audioTracks().size() || plan.count >= mkv::kMaxTracks) continue;
    const Track& track = table.audio[out->track];
    mkv::TrackSetup& a = plan.setups[plan.count];
    a.codec = AudioCodecOf(*out, track);
    if (out->hasLanguage) {
      for (int i = 0; i < 3; ++i) a.language[i] = out->language[i];
      a.language[3] = '\0';
    }
    const mkv::TrackDescription described = mkv::DescribeTrack(track.descriptors());
    a.visualImpaired = described.visualImpaired;
    a.hearingImpaired = described.hearingImpaired;
    a.isDefault = plan.count == (plan.videoTrack == mkv::kNoTrack ? 0u : 1u);
    plan.trackOfSlot[slot] = plan.count++;
  }
}

}  // namespace kelvor
