#pragma once
// AAC in Matroska: the AudioSpecificConfig that is the track's codec
// private data, read from an ADTS header or from the stream mux
// configuration of a LATM frame (in its LOAS framing), and the raw frame
// inside an ADTS frame.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace kelvor::mkv {

struct AdtsHeader {
  std::uint32_t objectType = 0;  // profile + 1
  std::uint32_t frequencyIndex = 0;
  std::uint32_t channelConfig = 0;
  std::uint32_t headerSize = 0;  // 7, or 9 with a CRC
  std::uint32_t frameSize = 0;   // header included
  std::uint32_t rawBlocks = 1;
};

// Nothing when `frame` does not start with a whole, sensible ADTS header.
std::optional<AdtsHeader> ReadAdtsHeader(std::span<const std::uint8_t> frame);

// The two-byte AudioSpecificConfig an ADTS header describes; returns its
// size (0 when `out` is too small or the header has no channel layout).
std::size_t AscFromAdts(const AdtsHeader& header, std::span<std::uint8_t> out);

// The AudioSpecificConfig inside the StreamMuxConfig of a LOAS frame (sync
// word 0x2B7) that carries one; returns its size, or 0 when the frame
// refers to an earlier configuration, holds more than one programme or
// layer, or uses a configuration this reader does not take apart (a
// programme config element, error-resilient object types).
std::size_t AscFromLatm(std::span<const std::uint8_t> loasFrame, std::span<std::uint8_t> out);

// What a LATM stream keeps from one frame's stream mux configuration to the
// next (frames may refer to the last one).
struct LatmState {
  bool known = false;
  bool version1 = false;
  std::uint32_t frameLengthType = 0;
  bool otherData = false;
};

// The raw AAC frame inside a LOAS frame with one programme, one layer and one
// subframe of variable length: written to `out`, its size returned. 0 when
// the frame is of another kind or refers to a configuration not seen yet.
std::size_t LatmRawFrame(std::span<const std::uint8_t> loasFrame, LatmState& state, std::span<std::uint8_t> out);

// Sampling rate and channels from an AudioSpecificConfig (0 when unknown).
struct AscSummary {
  std::uint32_t sampleRate = 0;
  std::uint32_t channels = 0;
};
AscSummary SummariseAsc(std::span<const std::uint8_t> asc);

// The rate of the core an AudioSpecificConfig describes (HE-AAC: half the
// output rate), which times its frames; 0 when unknown.
std::uint32_t CoreSampleRate(std::span<const std::uint8_t> asc);

// samplingFrequencyIndex as a rate; 0 for the reserved and escape values.
std::uint32_t AacSampleRate(std::uint32_t index);

}  // namespace kelvor::mkv
