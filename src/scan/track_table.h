#pragma once
// What the scan found in the input, and the user's choice of audio track.
// Filled by the scan pass, read by the conversion and the multiplexer.
#include <array>
#include <cstdint>
#include <span>

#include "common/codec.h"

namespace kelvor {

inline constexpr std::uint32_t kAllTracks = 0xFFFFFFFF;
inline constexpr std::size_t kMaxMpegAudioTracks = 4;
inline constexpr std::size_t kMaxPrivateAudioTracks = 4;  // AC-3 and E-AC-3
inline constexpr std::size_t kMaxAudioTracks = kMaxMpegAudioTracks + kMaxPrivateAudioTracks;
inline constexpr std::size_t kMaxTrackChoices = 8;
inline constexpr std::size_t kMaxTrackDescriptorBytes = 256;

// One elementary stream of the programme taken.
struct Track {
  std::uint32_t pid = 0;
  std::uint8_t streamId = 0;  // of its PES packets
  Codec codec = Codec::None;
  std::uint8_t mpegLayer = 0;  // MPEG audio: 1 or 2 as the scan found it
  bool hasLanguage = false;    // the PMT gives an ISO 639 code:
  std::array<char, 4> language{};  // 3 letters + NUL
  std::uint8_t audioType = 0;  // of its ISO 639 language descriptor
  std::uint8_t streamType = 0;  // in the PMT; 0 when none lists it
  // Its ES_info descriptors from the PMT, whole descriptors up to the size.
  std::array<std::uint8_t, kMaxTrackDescriptorBytes> descriptorBytes{};
  std::uint16_t descriptorLength = 0;

  std::span<const std::uint8_t> descriptors() const {
    return std::span(descriptorBytes).first(descriptorLength);
  }
  const char* languageOrNull() const { return hasLanguage ? language.data() : nullptr; }
};

struct TrackChoice {
  std::uint32_t listIndex = 0;  // row of the track list
  std::uint32_t pid = 0;        // kAllTracks for the " All audio tracks" row
};

struct TrackTable {
  Track video{0, 0, Codec::Mpeg2Video};  // pid 0 when there is none
  std::uint32_t videoBitRate = 0;  // units of 400 bit/s
  std::uint32_t videoWidth = 0;    // MPEG-2 picture size; 0 when not found
  std::uint32_t videoHeight = 0;
  std::uint32_t videoFrameRateCode = 0;  // MPEG-2 frame_rate_code

  // The audio tracks in output order: every MPEG audio track, then every
  // AC-3/E-AC-3 track. A track's index here is its index everywhere.
  std::array<Track, kMaxAudioTracks> audio{};
  std::uint32_t audioCount = 0;

  std::array<TrackChoice, kMaxTrackChoices> trackChoices{};
  std::uint32_t trackChoiceCount = 0;

  // The programme to take (program_number), or 0 for the one that carries
  // the first video found; set before the scan. The scan writes the
  // programme it took (0 when the stream has no PAT/PMT for it).
  std::uint32_t requestedProgramme = 0;
  std::uint32_t programme = 0;

  std::uint32_t selectedAudioPid = kAllTracks;
  bool selectedIsPrivate = false;

  std::span<const Track> audioTracks() const {
    return std::span(audio).first(audioCount < kMaxAudioTracks ? audioCount : kMaxAudioTracks);
  }
  // The audio track on `pid`, or nullptr.
  const Track* audioTrack(std::uint32_t pid) const {
    for (const Track& t : audioTracks()) {
      if (t.pid == pid) return &t;
    }
    return nullptr;
  }
  // Adds an audio track in the table's order (an MPEG audio track before
  // the AC-3/E-AC-3 ones); false when the table is full.
  bool addAudio(const Track& t) {
    if (audioCount >= kMaxAudioTracks) return false;
    std::uint32_t at = audioCount;
    if (t.codec == Codec::MpegAudio) {
      while (at > 0 && audio[at - 1].codec != Codec::MpegAudio) {
        audio[at] = audio[at - 1];
        --at;
      }
    }
    audio[at] = t;
    ++audioCount;
    return true;
  }
};

}  // namespace kelvor
