#pragma once
// The bit layouts of the time fields the multiplexer writes: PES PTS, pack
// SCR, TS PCR and the M2TS arrival time stamp. Times are 90 kHz counts whose
// 33rd bit is always 0.
#include <cstdint>

namespace kelvor {

constexpr std::uint8_t Byte(std::uint32_t v) { return static_cast<std::uint8_t>(v & 0xFF); }

// PES PTS field, '0010' prefix (PTS only), with its three marker bits.
constexpr void WritePtsField(std::uint8_t* p, std::uint32_t pts) {
  p[0] = Byte(((pts >> 29) & 0x06) | 0x21);
  p[1] = Byte(pts >> 22);
  p[2] = Byte((pts >> 14) | 1);
  p[3] = Byte(pts >> 7);
  p[4] = Byte((pts << 1) | 1);
}

// Bytes 4..8 of a pack header: '01', system_clock_reference_base, markers,
// the top two bits of the (zero) extension.
constexpr void WriteScrField(std::uint8_t* p, std::uint32_t scr) {
  p[0] = Byte(0x44 | ((scr >> 27) & 0x18) | ((scr >> 28) & 0x03));
  p[1] = Byte(scr >> 20);
  p[2] = Byte(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03));
  p[3] = Byte(scr >> 5);
  p[4] = Byte(((scr << 3) & 0xF8) | 0x04);
}

// program_clock_reference: 33-bit base, six reserved ones, extension 0.
constexpr void WritePcrField(std::uint8_t* p, std::uint32_t clock) {
  p[0] = Byte(clock >> 25);
  p[1] = Byte(clock >> 17);
  p[2] = Byte(clock >> 9);
  p[3] = Byte(clock >> 1);
  p[4] = Byte((clock << 7) | 0x7E);
  p[5] = 0x00;
}

// TP_extra_header: copy_permission_indicator 0, arrival_time_stamp = the
// clock in 27 MHz units modulo 2^30.
constexpr void WriteArrivalTimeStamp(std::uint8_t* p, std::uint32_t clock) {
  const auto ats = static_cast<std::uint32_t>((std::uint64_t{clock} * 300) & 0x3FFFFFFF);
  p[0] = Byte(ats >> 24);
  p[1] = Byte(ats >> 16);
  p[2] = Byte(ats >> 8);
  p[3] = Byte(ats);
}

}  // namespace kelvor
