#include "matroska/track_descriptors.h"

#include "matroska/dvb_subtitle_config.h"

namespace kelvor::mkv {

namespace {

constexpr std::uint8_t kLanguageDescriptor = 0x0A;
constexpr std::uint8_t kExtensionDescriptor = 0x7F;
constexpr std::uint8_t kSupplementaryAudio = 0x06;  // descriptor_tag_extension
// audio_type of the language descriptor.
constexpr std::uint8_t kHearingImpaired = 0x02;
constexpr std::uint8_t kVisualImpairedCommentary = 0x03;
// editorial_classification of the supplementary audio descriptor.
constexpr std::uint8_t kAudioDescription = 0x01;
constexpr std::uint8_t kCleanAudio = 0x02;
constexpr std::uint8_t kSpokenSubtitles = 0x03;

void SetLanguage(TrackDescription& d, const std::uint8_t* code) {
  for (int i = 0; i < 3; ++i) d.language[i] = static_cast<char>(code[i]);
  d.language[3] = '\0';
}

}  // namespace

TrackDescription DescribeTrack(std::span<const std::uint8_t> descriptors) {
  TrackDescription d;
  std::size_t at = 0;
  while (at + 2 <= descriptors.size()) {
    const std::uint8_t tag = descriptors[at];
    const std::size_t length = descriptors[at + 1];
    if (at + 2 + length > descriptors.size()) break;
    const std::uint8_t* p = descriptors.data() + at + 2;
    if (tag == kLanguageDescriptor && length >= 4) {
      if (d.language[0] == '\0') SetLanguage(d, p);
      d.hearingImpaired = d.hearingImpaired || p[3] == kHearingImpaired;
      d.visualImpaired = d.visualImpaired || p[3] == kVisualImpairedCommentary;
    } else if (tag == kExtensionDescriptor && length >= 2 && p[0] == kSupplementaryAudio) {
      const unsigned classification = (p[1] >> 2) & 0x1F;
      d.visualImpaired = d.visualImpaired || classification == kAudioDescription || classification == kSpokenSubtitles;
      d.hearingImpaired = d.hearingImpaired || classification == kCleanAudio;
      if ((p[1] & 0x01) != 0 && length >= 5) SetLanguage(d, p + 2);  // the language the mix is in
    }
    at += 2 + length;
  }
  DvbSubtitleEntry subtitle;
  if (ReadDvbSubtitleEntry(descriptors, subtitle)) {
    if (d.language[0] == '\0') d.language = subtitle.language;
    d.hearingImpaired = d.hearingImpaired || subtitle.hardOfHearing();
  }
  return d;
}

}  // namespace kelvor::mkv
