#pragma once
// Syncframe checks and the bit stream information (BSI) of AC-3 and E-AC-3.
#include <cstdint>
#include <span>

#include "ac3dec/frame_state.h"
#include "common/bit_reader.h"

namespace kelvor::ac3 {

// The checks made before anything is parsed: the sync word, the frame kinds
// the decoder handles (AC-3 with bsid <= 8, E-AC-3 with bsid 10..16, strmtyp
// 0 or 2 and substream 0; 48 kHz), a length that agrees with the frame's own
// size field, and the CRCs (AC-3: first 5/8 and the rest; E-AC-3: all).
bool check_syncframe(std::span<const std::uint8_t> frame, bool eac3);

// Header values of an E-AC-3 frame beyond what the block syntax needs,
// for a writer that carries them over (the second set: acmod 0, dual mono).
struct Eac3BsiValues {
  std::uint32_t dialnorm = 0;
  std::uint32_t compre = 0;
  std::uint32_t compr = 0;
  std::uint32_t dialnorm2 = 0;
  std::uint32_t compr2e = 0;
  std::uint32_t compr2 = 0;
  std::uint32_t copyrightb = 0;
  std::uint32_t origbs = 0;
  std::uint32_t dsurmod = 0;
  std::uint32_t audprodie = 0;
  std::uint32_t mixlevel = 0;
  std::uint32_t roomtyp = 0;
  std::uint32_t audprodi2e = 0;
  std::uint32_t mixlevel2 = 0;
  std::uint32_t roomtyp2 = 0;
};

// Parses the BSI; on return the reader stands at the first field after it
// (the first audio block for AC-3, the audfrm fields for E-AC-3). The reader
// must cover the whole frame from its first byte.
bool parse_ac3_bsi(BitReader& br, std::span<const std::uint8_t> frame, FrameState& fs);
Eac3BsiValues parse_eac3_bsi(BitReader& br, std::span<const std::uint8_t> frame, FrameState& fs);

}  // namespace kelvor::ac3
