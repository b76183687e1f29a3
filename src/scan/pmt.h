#pragma once
// One TS_program_map_section read once into a value: the programme's
// elementary streams, each with its stream_type and its descriptors kept as
// bytes. The track table and the programme table both read this value; a
// stream's codec and language are derived from it.
#include <array>
#include <cstdint>
#include <span>

#include "common/codec.h"

namespace kelvor {

inline constexpr std::size_t kMaxPmtBytes = 1024;  // the longest section the standard allows
// Room for every stream entry such a section can hold (5 bytes each after a
// 12-byte header, before the CRC).
inline constexpr std::size_t kMaxPmtStreams = (kMaxPmtBytes - 16) / 5;

struct PmtEntry {
  std::uint32_t pid = 0;
  std::uint8_t streamType = 0;
  std::uint16_t descriptorsAt = 0;  // offset of its ES_info descriptors in Pmt::bytes
  std::uint16_t descriptorsLength = 0;
  // Of a stream other than video: the first ISO 639 code of its language,
  // subtitling or teletext descriptor, wherever it stands in the loop (3
  // letters and a NUL; empty when none), and the language descriptor's
  // audio_type.
  std::array<char, 4> language{};
  std::uint8_t audioType = 0;
};

struct Pmt {
  std::uint32_t programNumber = 0;
  std::uint32_t streamCount = 0;
  std::array<PmtEntry, kMaxPmtStreams> streams{};
  std::array<std::uint8_t, kMaxPmtBytes> bytes{};  // the section

  std::span<const std::uint8_t> descriptors(const PmtEntry& e) const {
    return std::span(bytes).subspan(e.descriptorsAt, e.descriptorsLength);
  }
  // The entry of `pid`, or nullptr.
  const PmtEntry* find(std::uint32_t pid) const;
  // The ISO 639 code of a stream other than video, or nullptr.
  const char* languageOf(std::uint32_t pid) const;
  // H.264 when any stream is H.264 video, else MPEG-2 video.
  Codec videoCodec() const;
};

// The video codec a stream_type names (None for any other type).
Codec VideoCodecOfStreamType(std::uint8_t type);

// Reads one whole one-section TS_program_map_section. False for any
// malformed or CRC-failing section; `pmt` is left as it was when the
// section's header is refused, and holds the streams read before the fault
// when a stream entry overruns the section.
bool ParsePmt(std::span<const std::uint8_t> section, Pmt& pmt);

}  // namespace kelvor
