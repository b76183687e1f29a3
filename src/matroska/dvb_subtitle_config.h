#pragma once
// The codec private data of a Matroska DVB subtitle track, from the
// subtitling descriptor (tag 0x59) of the stream's PMT entry: the page ids
// and the subtitling type of its first (or only) language.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace kelvor::mkv {

inline constexpr std::size_t kDvbSubtitlePrivateSize = 5;

struct DvbSubtitleEntry {
  std::array<char, 4> language{};  // 3 letters and a NUL
  std::uint8_t subtitlingType = 0;
  std::uint16_t compositionPage = 0;
  std::uint16_t ancillaryPage = 0;
  // Subtitling types 0x20..0x25 are for the hard of hearing.
  bool hardOfHearing() const { return subtitlingType >= 0x20 && subtitlingType <= 0x25; }
};

// Finds the subtitling descriptor among an ES_info loop's descriptors and
// reads its first entry; false when there is none (or it is cut short).
bool ReadDvbSubtitleEntry(std::span<const std::uint8_t> descriptors, DvbSubtitleEntry& entry);

// composition_page_id, ancillary_page_id (both big-endian), subtitling_type.
std::array<std::uint8_t, kDvbSubtitlePrivateSize> DvbSubtitlePrivate(const DvbSubtitleEntry& entry);

}  // namespace kelvor::mkv
