#pragma once
// The texts of the track-list rows.
#include <cstdint>
#include <string>

#include "scan/ac3_probe.h"
#include "scan/mpeg_audio_probe.h"
#include "scan/track_table.h"

namespace kelvor {

// "[%s]" with the language code, or "" without one.
std::string LanguageText(const char* languageCode);
// The language text, then what the language descriptor's audio type says
// ("[eng] audio description").
std::string TrackNote(const Track& track);

// [0044] MPEG L2 192Kb 48KHz Stereo [fra]
std::string MpegAudioLabel(std::uint32_t pid, const AudioProbeResult& header, const std::string& language);

// [0045] AC3 5.1 [eng]; the AC-3 core of a TrueHD stream is named so.
std::string Ac3Label(std::uint32_t pid, const Ac3ProbeResult& layout, const std::string& language,
                     bool trueHdCore = false);
// [0101] HE-AAC 48 kHz 2 ch [eng]: `format` as the header probe tells it.
std::string AacLabel(std::uint32_t pid, const std::string& format, const std::string& language);
// "E-AC3 44.1 kHz 5.1": what a probe found, for a report.
std::string Ac3FormatText(const Ac3ProbeResult& layout);

// Bit rate in kbit/s of an MPEG-1 audio header (0 for free format and 15).
std::uint32_t MpegAudioBitrateKbps(std::uint32_t layer, std::uint32_t bitrateIndex);
// Sampling rate in whole kHz (44.1 kHz shows as 44; 0 for the reserved index).
std::uint32_t MpegAudioSamplingKHz(std::uint32_t samplingIndex);

}  // namespace kelvor
