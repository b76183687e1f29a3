#pragma once
// The settings fixed at the start of a conversion run: the video and the
// audio streams the output carries and how they are numbered. The
// conversion driver fills it once per run (ConfigureRun); the handlers and
// the multiplexer read it. It is all the multiplexer knows of the input.
#include <array>
#include <cstdint>

#include "common/codec.h"

namespace kelvor {

inline constexpr std::uint32_t kMaxAudioOutputs = 8;
// The PMT of every output stream fits one TS packet: a few bytes a track.
inline constexpr std::uint32_t kMaxKeptDescriptorBytes = 8;

// One audio stream of the output.
struct AudioOutput {
  std::uint32_t track = 0;   // index of its audio track in the track table
  std::uint32_t slot = 0;    // output stream: PID 0x1100 + slot, PS stream id 0xC0 + slot
  std::uint32_t pid = 0;     // input PID, for the language entry
  Codec source = Codec::None;  // the codec of its track
  bool ac3 = false;          // written as AC-3 (a private track that is not converted)
  bool eac3 = false;         // of those, written as the E-AC-3 it is
  bool hasLanguage = false;        // the scan found an ISO 639 code for the PID:
  std::array<char, 3> language{};  // its three letters
  std::uint8_t audioType = 0;      // and the audio_type given with them
  // AAC: the input's own descriptors besides the language (its AAC or
  // MPEG-4 audio descriptor), whole ones up to the size, as they came.
  std::array<std::uint8_t, kMaxKeptDescriptorBytes> kept{};
  std::uint8_t keptLength = 0;
};

struct RunSettings {
  Codec videoCodec = Codec::Mpeg2Video;
  std::uint32_t videoBitRate = 0;  // the scan's value, for the program stream mux rate
  bool convertAc3ToMpeg = false;
  bool keepEac3 = false;  // E-AC-3 tracks are written unchanged
  bool allTracks = true;  // every audio track is output
  // The run's audio tracks are track table indexes 0 .. audioTrackTotal - 1:
  // the MPEG audio tracks, then from firstPrivateTrack on the AC-3/E-AC-3
  // tracks (AC-3 track j of the AC-3 chain is audio track firstPrivateTrack + j).
  std::uint32_t audioTrackTotal = 0;
  std::uint32_t firstPrivateTrack = 0;
  std::uint32_t mpegOutCount = 0;
  std::uint32_t ac3OutCount = 0;

  // The output audio streams in table order: MPEG tracks, then private tracks.
  std::array<AudioOutput, kMaxAudioOutputs> outputs{};
  std::uint32_t outputCount = 0;

  std::uint32_t privateTrack(std::uint32_t j) const { return firstPrivateTrack + j; }
  // The output slot fed by audio track k.
  std::uint32_t slotOf(std::uint32_t track) const { return allTracks ? track : 0; }
  // Output audio slots: MPEG audio slots first, then AC-3 slots.
  std::uint32_t slotCount() const { return mpegOutCount + ac3OutCount; }
  // The output fed by audio track k, or nullptr when the track is not output.
  const AudioOutput* outputForTrack(std::uint32_t track) const;
  const AudioOutput* outputForSlot(std::uint32_t slot) const;
};

}  // namespace kelvor
