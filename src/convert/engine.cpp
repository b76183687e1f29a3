#include "convert/engine.h"

#include "common/flags.h"
#include "common/show_message.h"
#include "convert/frame_rate_probe.h"
#include "mux/dvd_limits.h"
#include "scan/mpeg_audio_tables.h"

namespace kelvor {

Engine::Engine(UiPort& ui)
    : ui_(ui),
      input_(ui),
      scan_(input_, tracks_, idr_, ui),
      output_(ui),
      mux_(output_, run_),
      converter_(run_, timing_, mux_),
      mpeg2Video_(timing_, mux_, *videoStore_),
      h264Video_(timing_, mux_, idr_, *videoStore_),
      hevcVideo_(timing_, mux_, idr_, *videoStore_, Codec::Hevc),
      mpegAudio_(timing_, mux_),
      ac3_(run_, timing_, mux_, converter_),
      aac_(timing_, mux_),
      pass_(ui, input_, output_, runTracks_, run_, timing_, mux_, mpeg2Video_, h264Video_, hevcVideo_, mpegAudio_,
            ac3_, aac_, converter_, gops_, cuts_) {
  timing_.drops = &drops_;
  timing_.cuts = &cuts_;
  mux_.setAccessUnitSink(&matroska_);
}

Engine::~Engine() = default;

void Engine::runScan() { scan_.run(); }

double Engine::videoFramesPerSecond() {
  if (tracks_.video.pid == 0) return 0;
  if (!IsNalVideo(tracks_.video.codec)) return Mpeg2FramesPerSecond(tracks_.videoFrameRateCode);
  return ProbeFramesPerSecond(input_, tracks_.video.pid, 8u << 20);
}

bool Engine::prepareTracks(const ConversionRequest& request) {
  runTracks_ = tracks_;
  // A program stream may carry HEVC, but few players or authoring tools
  // take it: such a file would look written and not play.
  if (request.format == OutputFormat::ProgramStream && tracks_.video.codec == Codec::Hevc) {
    ui_.showMessage("MPG output does not carry HEVC video; use --format ts|m2ts", MessageKind::Error);
    return false;
  }
  // AAC goes into TS and M2TS only; the callers name what is left out.
  if (request.format != OutputFormat::Ts && request.format != OutputFormat::M2ts) {
    std::uint32_t kept = 0;
    for (const Track& t : tracks_.audioTracks()) {
      if (!IsAacCodec(t.codec)) runTracks_.audio[kept++] = t;
    }
    runTracks_.audioCount = kept;
  }
  if (request.format == OutputFormat::Dvd) {
    const std::string refusal =
        DvdVideoRefusal(tracks_.video.codec, tracks_.videoWidth, tracks_.videoHeight,
                        tracks_.videoFrameRateCode);
    if (!refusal.empty()) {
      ui_.showMessage(refusal, MessageKind::Error);
      return false;
    }
    // Each MPEG audio track that goes into the output, by the rate the scan
    // found (AC-3 at other rates than 48 kHz is never carried).
    const auto audio = tracks_.audioTracks();
    for (std::uint32_t k = 0; k < audio.size(); ++k) {
      const std::uint32_t pid = audio[k].pid;
      if (audio[k].codec != Codec::MpegAudio) continue;
      if (tracks_.selectedAudioPid != kAllTracks && tracks_.selectedAudioPid != pid) continue;
      const std::string audioRefusal =
          DvdAudioRefusal(pid, kMpeg1SamplingHz[scan_.summary().mpegAudio[k].samplingIndex & 3]);
      if (!audioRefusal.empty()) {
        ui_.showMessage(audioRefusal, MessageKind::Error);
        return false;
      }
    }
  }
  // Matroska blocks must each hold one whole picture; MPEG-2 and HEVC
  // pictures are not handed over that way yet.
  if (request.format == OutputFormat::Matroska && tracks_.video.pid != 0 && tracks_.video.codec != Codec::H264) {
    ui_.showMessage(tracks_.video.codec == Codec::Hevc
                        ? "MKV output takes H.264 video only: write HEVC video with --format ts|m2ts"
                        : "MKV output takes H.264 video only: write MPEG-2 video with --format ts|m2ts|mpg",
                    MessageKind::Error);
    return false;
  }
  // Video alone converts; without video there is nothing to convert.
  if (runTracks_.audioCount == 0 && runTracks_.video.pid == 0) {
    ShowMessage(ui_, StringId::NoSupportedAudioTrack);
    return false;
  }
  return true;
}

ConversionOutcome Engine::runConversion(const ConversionRequest& request) {
  if (!prepareTracks(request)) {
    ConversionOutcome refused;
    refused.refused = true;
    ui_.finished();
    return refused;
  }
  return pass_.run(request);
}

}  // namespace kelvor
