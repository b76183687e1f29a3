#pragma once
// Descriptors shared by the program stream map and the PMT.
#include <cstdint>

#include "common/mpeg_ids.h"
#include "mux/byte_writer.h"
#include "mux/run_settings.h"

namespace kelvor {

inline constexpr std::uint32_t kRegistrationDescriptorSize = 6;
inline constexpr std::uint32_t kLanguageDescriptorSize = 6;

// registration_descriptor with a four-letter format identifier ("AC-3", "HDMV").
inline void WriteRegistrationDescriptor(ByteWriter& w, const char (&id)[5]) {
  w.u8(0x05);
  w.u8(4);
  w.text(id);
}

// ISO_639_language_descriptor with one language and the input's audio_type
// (an audio description track stays marked as one). `code` holds the three
// letters recorded by the scan.
inline void WriteLanguageDescriptor(ByteWriter& w, const std::array<char, 3>& code, std::uint8_t audioType) {
  w.u8(0x0A);
  w.u8(4);
  for (int n = 0; n < 3; ++n) w.u8(static_cast<std::uint8_t>(code[n]));
  w.u8(audioType);
}

// The descriptors of one audio elementary stream: "AC-3" registration for an
// AC-3 stream ("EAC3" for E-AC-3 written as it came), an AAC stream's own
// descriptors, then the language when the scan found one for its PID.
// Returns the ES_info_length they take.
inline std::uint32_t AudioInfoLength(const AudioOutput& out) {
  return (out.ac3 ? kRegistrationDescriptorSize : 0) + out.keptLength + (out.hasLanguage ? kLanguageDescriptorSize : 0);
}

inline void WriteAudioDescriptors(ByteWriter& w, const AudioOutput& out) {
  if (out.eac3) {
    WriteRegistrationDescriptor(w, "EAC3");
  } else if (out.ac3) {
    WriteRegistrationDescriptor(w, "AC-3");
  }
  for (std::uint32_t k = 0; k < out.keptLength; ++k) w.u8(out.kept[k]);
  if (out.hasLanguage) WriteLanguageDescriptor(w, out.language, out.audioType);
}

// The stream type of an audio stream written unchanged or as MPEG audio.
inline std::uint8_t OutputStreamType(Codec source) {
  if (source == Codec::AacAdts) return kStreamTypeAdtsAac;
  if (source == Codec::AacLatm) return kStreamTypeLatmAac;
  return kStreamTypeMpeg1Audio;
}

}  // namespace kelvor
