#pragma once
// The settings fixed at the start of a conversion run: the video and the
// audio streams the output carries and how they are numbered. The
// conversion driver fills it once per run (ConfigureRun); the handlers and
// the multiplexer read it. It is all the multiplexer knows of the input.
#include <array>
#include <cstdint>

namespace kelvor {

inline constexpr std::uint32_t kMaxAudioOutputs = 8;

// One audio stream of the output.
struct AudioOutput {
  std::uint32_t track = 0;   // audio track index: MPEG track i, or mpegAudioCount + private track j
  std::uint32_t slot = 0;    // output stream: PID 0x1100 + slot, PS stream id 0xC0 + slot
  std::uint32_t pid = 0;     // input PID, for the language entry
  bool fromPrivate = false;  // the source is an AC-3/E-AC-3 track
  bool ac3 = false;          // written as AC-3 (a private track that is not converted)
  bool hasLanguage = false;        // the scan found an ISO 639 code for the PID:
  std::array<char, 3> language{};  // its three letters
};

struct RunSettings {
  bool videoIsH264 = false;
  std::uint32_t videoBitRate = 0;  // the scan's value, for the program stream mux rate
  bool convertAc3ToMpeg = false;
  bool allTracks = true;  // every audio track is output
  std::uint32_t audioTrackTotal = 0;
  std::uint32_t mpegOutCount = 0;
  std::uint32_t ac3OutCount = 0;
  // The scan's track counts, limited to what the track table can hold.
  std::uint32_t mpegAudioCount = 0;
  std::uint32_t privateAudioCount = 0;

  // The output audio streams in table order: MPEG tracks, then private tracks.
  std::array<AudioOutput, kMaxAudioOutputs> outputs{};
  std::uint32_t outputCount = 0;

  std::uint32_t mpegTrack(std::uint32_t i) const { return i; }
  std::uint32_t privateTrack(std::uint32_t j) const { return mpegAudioCount + j; }
  // The output slot fed by audio track k.
  std::uint32_t slotOf(std::uint32_t track) const { return allTracks ? track : 0; }
  // Output audio slots: MPEG audio slots first, then AC-3 slots.
  std::uint32_t slotCount() const { return mpegOutCount + ac3OutCount; }
  // The output fed by audio track k, or nullptr when the track is not output.
  const AudioOutput* outputForTrack(std::uint32_t track) const;
  const AudioOutput* outputForSlot(std::uint32_t slot) const;
};

}  // namespace kelvor
