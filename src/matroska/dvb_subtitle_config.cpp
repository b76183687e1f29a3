#include "matroska/dvb_subtitle_config.h"

namespace kelvor::mkv {

namespace {

constexpr std::uint8_t kSubtitlingDescriptor = 0x59;
constexpr std::size_t kEntrySize = 8;

}  // namespace

bool ReadDvbSubtitleEntry(std::span<const std::uint8_t> descriptors, DvbSubtitleEntry& entry) {
  std::size_t at = 0;
  while (at + 2 <= descriptors.size()) {
    const std::uint8_t tag = descriptors[at];
    const std::size_t length = descriptors[at + 1];
    if (at + 2 + length > descriptors.size()) return false;
    if (tag == kSubtitlingDescriptor && length >= kEntrySize) {
      const std::uint8_t* p = descriptors.data() + at + 2;
      for (int i = 0; i < 3; ++i) entry.language[i] = static_cast<char>(p[i]);
      entry.language[3] = '\0';
      entry.subtitlingType = p[3];
      entry.compositionPage = static_cast<std::uint16_t>((p[4] << 8) | p[5]);
      entry.ancillaryPage = static_cast<std::uint16_t>((p[6] << 8) | p[7]);
      return true;
    }
    at += 2 + length;
  }
  return false;
}

std::array<std::uint8_t, kDvbSubtitlePrivateSize> DvbSubtitlePrivate(const DvbSubtitleEntry& entry) {
  return {static_cast<std::uint8_t>(entry.compositionPage >> 8), static_cast<std::uint8_t>(entry.compositionPage),
          static_cast<std::uint8_t>(entry.ancillaryPage >> 8), static_cast<std::uint8_t>(entry.ancillaryPage),
          entry.subtitlingType};
}

}  // namespace kelvor::mkv
