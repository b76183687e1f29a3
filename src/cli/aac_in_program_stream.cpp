#include "cli/aac_in_program_stream.h"

#include <cstdio>

#include "scan/audio_format_probe.h"

namespace kelvor::cli {

bool LeaveOutAacTracks(const TrackTable& tracks, ScanSummary& summary) {
  const auto audio = tracks.audioTracks();
  for (std::uint32_t k = 0; k < audio.size(); ++k) {
    const Track& t = audio[k];
    if (!IsAacCodec(t.codec)) continue;
    if (tracks.selectedAudioPid == t.pid) {
      std::fprintf(stderr,
                   "kelvor-cli convert: --audio 0x%04X is AAC audio, which goes into TS and M2TS only: "
                   "write it with --format ts|m2ts\n",
                   t.pid);
      return false;
    }
    if (summary.notCarriedCount >= summary.notCarried.size()) continue;
    ScanSummary::NotCarried& n = summary.notCarried[summary.notCarriedCount++];
    n = ScanSummary::NotCarried{};
    n.pid = t.pid;
    n.streamType = t.streamType;
    n.codec = t.codec;
    if (t.hasLanguage) n.language = t.language;
    n.audioType = t.audioType;
    std::snprintf(n.found.data(), n.found.size(), "%s", DescribeAudioFormat(t.codec, summary.aacAudio[k]).c_str());
    std::snprintf(n.reason.data(), n.reason.size(), "AAC audio goes into TS and M2TS only (--format ts|m2ts)");
  }
  return true;
}

}  // namespace kelvor::cli
