#include "scan/track_labels.h"

#include <cstdio>

#include "common/string_table.h"
#include "scan/mpeg_audio_tables.h"
#include "scan/stream_codec.h"

namespace kelvor {
namespace {

// A list row holds at most 79 characters.
constexpr std::size_t kMaxRowLength = 79;

}  // namespace

std::string LanguageText(const char* languageCode) {
  if (languageCode == nullptr) return {};
  return std::string("[") + languageCode + "]";
}

std::string TrackNote(const Track& track) {
  std::string text = LanguageText(track.languageOrNull());
  if (const char* type = AudioTypeName(track.audioType)) text += (text.empty() ? "" : " ") + std::string(type);
  return text;
}

std::uint32_t MpegAudioBitrateKbps(std::uint32_t layer, std::uint32_t bitrateIndex) {
  const auto& table = layer == 1 ? kLayer1BitrateKbps : kLayer2BitrateKbps;
  return table[bitrateIndex & 15];
}

std::uint32_t MpegAudioSamplingKHz(std::uint32_t samplingIndex) { return kSamplingKHz[samplingIndex & 3]; }

std::string MpegAudioLabel(std::uint32_t pid, const AudioProbeResult& header, const std::string& language) {
  char row[kMaxRowLength + 1];
  std::snprintf(row, sizeof row, LoadString(StringId::MpegAudioLabel).data(), pid, header.layer,
                MpegAudioBitrateKbps(header.layer, header.bitrateIndex),
                MpegAudioSamplingKHz(header.samplingIndex), kModeNames[header.mode & 3].data(),
                language.c_str());
  return row;
}

std::string Ac3Label(std::uint32_t pid, const Ac3ProbeResult& layout, const std::string& language,
                     bool trueHdCore) {
  char row[kMaxRowLength + 1];
  const char* name = trueHdCore ? "TrueHD, AC3 core" : layout.isEac3 ? "E-AC3" : "AC3";
  std::snprintf(row, sizeof row, LoadString(StringId::Ac3Label).data(), pid, name, layout.channels, layout.lfe,
                language.c_str());
  return row;
}

std::string AacLabel(std::uint32_t pid, const std::string& format, const std::string& language) {
  char row[kMaxRowLength + 1];
  std::snprintf(row, sizeof row, "[%04X] %s %s", pid, format.c_str(), language.c_str());
  return row;
}

std::string Ac3FormatText(const Ac3ProbeResult& layout) {
  char text[48];
  std::snprintf(text, sizeof text, "%s %g kHz %u.%u", layout.isEac3 ? "E-AC3" : "AC3", layout.sampleRate / 1000.0,
                layout.channels, layout.lfe);
  return text;
}

}  // namespace kelvor
