#include "convert/engine.h"

#include <cstdio>

#include "common/flags.h"
#include "common/show_message.h"
#include "mux/dvd_limits.h"

namespace kelvor {

Engine::Engine(UiPort& ui)
    : ui_(ui),
      input_(ui),
      scan_(input_, tracks_, idr_, ui),
      output_(ui),
      mux_(output_, run_),
      video_(runTracks_, timing_, mux_, idr_),
      mpegAudio_(timing_, mux_),
      ac3_(runTracks_, run_, timing_, mux_, converter_),
      pass_(ui, input_, output_, runTracks_, run_, timing_, mux_, video_, mpegAudio_, ac3_,
            converter_) {}

Engine::~Engine() = default;

void Engine::runScan() { scan_.run(); }

bool Engine::prepareTracks(const ConversionRequest& request) {
  runTracks_ = tracks_;
  if (request.format == OutputFormat::Dvd) {
    const std::string refusal =
        DvdVideoRefusal(tracks_.videoIsH264, tracks_.videoWidth, tracks_.videoHeight,
                        tracks_.videoFrameRateCode);
    if (!refusal.empty()) {
      ui_.showMessage(refusal, MessageKind::Error);
      return false;
    }
  }
  if (request.convertAc3ToMpeg && !converter_.convertsToMpegAudio()) {
    ui_.showMessage("Convert AC3 to MPEG audio is not available in this version", MessageKind::Error);
    return false;
  }
  if (request.convertAc3ToMpeg || converter_.transcodesEac3()) return true;

  // E-AC-3 cannot be written as AC-3 yet: such tracks are left out.
  TrackTable& t = runTracks_;
  const bool all = t.selectedAudioPid == kAllTracks;
  std::uint32_t kept = 0;
  for (std::uint32_t j = 0; j < t.privateAudioCount && j < kMaxPrivateAudioTracks; ++j) {
    const std::uint32_t pid = t.privateAudioPid[j];
    if (t.privateAudioIsEac3[j]) {
      char text[100];
      if (!all && pid == t.selectedAudioPid) {
        std::snprintf(text, sizeof text,
                      "E-AC-3 track [%04X] cannot be converted yet: choose another track", pid);
        ui_.showMessage(text, MessageKind::Error);
        return false;
      }
      if (all) {
        std::snprintf(text, sizeof text, "E-AC-3 track [%04X] is left out: it cannot be converted yet",
                      pid);
        ui_.showMessage(text, MessageKind::Error);
      }
      continue;
    }
    t.privateAudioPid[kept] = pid;
    t.privateAudioIsEac3[kept] = false;
    ++kept;
  }
  t.privateAudioCount = kept;
  if (t.mpegAudioCount + t.privateAudioCount == 0) {
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
