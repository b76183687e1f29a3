#pragma once
// The numeric layout of each output container: packet size, where the PES
// header and the payload sit in a stream's packets, and the clock step.
#include <cstdint>

#include "mux/dvd_limits.h"

namespace kelvor {

// The output container.
enum class OutputFormat : std::uint8_t {
  ProgramStream,  // 2048-byte packs
  Ts,             // 188-byte packets
  M2ts,           // 192-byte packets: 4-byte arrival time stamp + TS packet
  Dvd,            // 2048-byte packs ready for DVD authoring: a navigation pack
                  // before each group of pictures, the DVD mux rate
  Matroska,       // whole access units, written by an AccessUnitSink
};

struct MuxLayout {
  OutputFormat format = OutputFormat::ProgramStream;
  std::uint32_t packetSize = 2048;
  std::uint32_t prefixSize = 0;       // bytes before the sync byte (M2TS: 4)
  std::uint32_t clockStep = 45;       // 90 kHz ticks per packet written
  std::uint32_t ptsFlagsOffset = 21;  // PES byte holding PTS_DTS_flags
  std::uint32_t firstPayloadOffset = 28;
  std::uint32_t firstPayloadSize = 2020;
  std::uint32_t contPayloadOffset = 28;  // from the start of the stream's template
  std::uint32_t contPayloadSize = 2020;
  std::uint32_t ccOffset = 0;   // byte with continuity_counter (TS/M2TS)
  std::uint32_t pcrOffset = 0;  // PCR field in the header buffer (TS/M2TS)

  constexpr bool isTransportStream() const {
    return format == OutputFormat::Ts || format == OutputFormat::M2ts;
  }
  constexpr bool isDvd() const { return format == OutputFormat::Dvd; }
  // The end of a video PES packet is the end of an access unit the output
  // keeps apart: TS packets are padded there, whole-unit containers end a block.
  constexpr bool endsVideoPes() const { return isTransportStream() || format == OutputFormat::Matroska; }
};

// Program stream packs of AC-3 streams keep a 4-byte sub-stream header.
inline constexpr std::uint32_t kPsAc3PayloadOffset = 32;
inline constexpr std::uint32_t kPsAc3PayloadSize = 2016;
// Payload bytes of a TS packet without adaptation field.
inline constexpr std::uint32_t kTsPayloadSize = 184;

// Anything that is not TS, M2TS or DVD is written as a program stream.
constexpr MuxLayout LayoutFor(OutputFormat format) {
  MuxLayout l;
  if (format == OutputFormat::Matroska) {
    l.format = format;
    return l;
  }
  if (format == OutputFormat::Dvd) {
    l.format = format;
    l.clockStep = kDvdPackTicks;
    return l;
  }
  if (format != OutputFormat::Ts && format != OutputFormat::M2ts) return l;
  const std::uint32_t prefix = format == OutputFormat::M2ts ? 4 : 0;
  l.format = format;
  l.prefixSize = prefix;
  l.packetSize = 188 + prefix;
  l.clockStep = 4;
  l.ptsFlagsOffset = 11 + prefix;
  l.firstPayloadOffset = 18 + prefix;
  l.firstPayloadSize = 170;
  l.contPayloadOffset = l.packetSize + 4 + prefix;
  l.contPayloadSize = kTsPayloadSize;
  l.ccOffset = 3 + prefix;
  l.pcrOffset = 2 * l.packetSize + prefix + 6;
  return l;
}

}  // namespace kelvor
