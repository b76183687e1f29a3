#pragma once
// What a Matroska track entry takes from the stream's PMT descriptors: the
// language, and whether the track is for viewers with impaired sight (audio
// description, spoken subtitles) or hearing (clean audio, subtitles for the
// hard of hearing).
#include <array>
#include <cstdint>
#include <span>

namespace kelvor::mkv {

struct TrackDescription {
  std::array<char, 4> language{};  // empty when no descriptor names one
  bool visualImpaired = false;
  bool hearingImpaired = false;
};

// Reads the ISO 639 language descriptor (its audio_type), the supplementary
// audio descriptor (its editorial classification and language) and the
// subtitling descriptor (its subtitling type) of one ES_info loop. A
// descriptor that runs past the loop ends the reading.
TrackDescription DescribeTrack(std::span<const std::uint8_t> descriptors);

}  // namespace kelvor::mkv
