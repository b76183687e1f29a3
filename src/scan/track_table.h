#pragma once
// What the scan found in the input, and the user's choice of audio track.
// Filled by the scan pass, read by the conversion and the multiplexer.
#include <array>
#include <cstdint>

namespace kelvor {

inline constexpr std::uint32_t kAllTracks = 0xFFFFFFFF;
inline constexpr std::size_t kMaxMpegAudioTracks = 4;
inline constexpr std::size_t kMaxPrivateAudioTracks = 4;
inline constexpr std::size_t kMaxLanguages = 8;
inline constexpr std::size_t kMaxTrackChoices = 8;

struct TrackChoice {
  std::uint32_t listIndex = 0;  // row of the track list
  std::uint32_t pid = 0;        // kAllTracks for the " All audio tracks" row
};

struct TrackTable {
  std::uint32_t videoPid = 0;
  std::uint8_t videoStreamId = 0;
  bool videoIsH264 = false;
  std::uint32_t videoBitRate = 0;  // units of 400 bit/s

  std::uint32_t mpegAudioCount = 0;
  std::array<std::uint32_t, kMaxMpegAudioTracks> mpegAudioPid{};
  std::array<std::uint8_t, kMaxMpegAudioTracks> mpegAudioStreamId{};
  std::array<std::uint8_t, kMaxMpegAudioTracks> mpegAudioLayer{};  // 1 or 2 as the scan found it

  std::uint32_t privateAudioCount = 0;
  std::array<std::uint32_t, kMaxPrivateAudioTracks> privateAudioPid{};
  std::array<bool, kMaxPrivateAudioTracks> privateAudioIsEac3{};

  std::uint32_t languageCount = 0;
  std::array<std::uint32_t, kMaxLanguages> languagePid{};
  std::array<std::array<char, 4>, kMaxLanguages> languageCode{};  // 3 letters + NUL

  std::array<TrackChoice, kMaxTrackChoices> trackChoices{};
  std::uint32_t trackChoiceCount = 0;

  // The programme to take (program_number), or 0 for the one that carries
  // the first video found; set before the scan. The scan writes the
  // programme it took (0 when the stream has no PAT/PMT for it).
  std::uint32_t requestedProgramme = 0;
  std::uint32_t programme = 0;

  std::uint32_t selectedAudioPid = kAllTracks;
  bool selectedIsPrivate = false;

  // The language code recorded for `pid`, or nullptr.
  const char* languageFor(std::uint32_t pid) const {
    for (std::uint32_t k = 0; k < languageCount && k < kMaxLanguages; ++k) {
      if (languagePid[k] == pid) return languageCode[k].data();
    }
    return nullptr;
  }
};

}  // namespace kelvor
