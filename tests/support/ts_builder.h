#pragma once
// Builds transport streams byte by byte for exact test cases.
#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/crc32_mpeg.h"

namespace kelvor::test {

struct PmtStream {
  std::uint8_t streamType;
  std::uint16_t pid;
  std::string language;  // empty: no language descriptor
  std::vector<std::uint8_t> extraDescriptors{};
};

// A whole TS_program_map_section with a correct CRC.
inline std::vector<std::uint8_t> BuildPmtSection(const std::vector<PmtStream>& streams,
                                                 std::uint8_t sectionNumber = 0) {
  std::vector<std::uint8_t> s{0x02, 0xB0, 0x00, 0x00, 0x01, 0xC1, sectionNumber, 0x00, 0xE1, 0x00, 0xF0, 0x00};
  for (const auto& st : streams) {
    std::vector<std::uint8_t> info = st.extraDescriptors;
    if (!st.language.empty()) {
      info.insert(info.end(), {0x0A, 4, static_cast<std::uint8_t>(st.language[0]),
                               static_cast<std::uint8_t>(st.language[1]),
                               static_cast<std::uint8_t>(st.language[2]), 0x00});
    }
    s.insert(s.end(), {st.streamType, static_cast<std::uint8_t>(0xE0 | (st.pid >> 8)),
                       static_cast<std::uint8_t>(st.pid & 0xFF), static_cast<std::uint8_t>(0xF0 | (info.size() >> 8)),
                       static_cast<std::uint8_t>(info.size() & 0xFF)});
    s.insert(s.end(), info.begin(), info.end());
  }
  const std::size_t sectionLength = s.size() - 3 + 4;
  s[1] = static_cast<std::uint8_t>(0xB0 | (sectionLength >> 8));
  s[2] = static_cast<std::uint8_t>(sectionLength & 0xFF);
  const std::uint32_t crc = Crc32Mpeg(s);
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<std::uint8_t>(crc >> (24 - 8 * i)));
  return s;
}

class TsBuilder {
 public:
  explicit TsBuilder(unsigned packetSize = 188) : packetSize_(packetSize) {}

  // One packet; the payload (at most 184 bytes) is preceded by adaptation
  // field stuffing when shorter. `cc` defaults to the PID's running counter.
  void packet(std::uint16_t pid, bool pusi, std::span<const std::uint8_t> payload,
              std::optional<std::uint8_t> cc = std::nullopt) {
    std::uint8_t counter = cc ? *cc : static_cast<std::uint8_t>(counters_[pid]++ & 0x0F);
    if (packetSize_ == 192) bytes_.insert(bytes_.end(), {0x00, 0x00, 0x00, 0x00});
    const std::size_t n = std::min<std::size_t>(payload.size(), 184);
    std::array<std::uint8_t, 188> p{};
    p[0] = 0x47;
    p[1] = static_cast<std::uint8_t>((pusi ? 0x40 : 0x00) | (pid >> 8));
    p[2] = static_cast<std::uint8_t>(pid & 0xFF);
    std::size_t start = 4;
    if (n < 184) {
      p[3] = static_cast<std::uint8_t>(0x30 | counter);
      const std::size_t afLength = 183 - n;
      p[4] = static_cast<std::uint8_t>(afLength);
      if (afLength > 0) {
        p[5] = 0x00;
        std::fill(p.begin() + 6, p.begin() + 5 + static_cast<std::ptrdiff_t>(afLength), 0xFF);
      }
      start = 5 + afLength;
    } else {
      p[3] = static_cast<std::uint8_t>(0x10 | counter);
    }
    std::copy_n(payload.begin(), n, p.begin() + static_cast<std::ptrdiff_t>(start));
    bytes_.insert(bytes_.end(), p.begin(), p.end());
    // Parity bytes of a 204-byte packet: anything, even sync-like bytes.
    for (unsigned k = 188; packetSize_ == 204 && k < packetSize_; ++k) bytes_.push_back(static_cast<std::uint8_t>(0x47 ^ (k * 37 + counter)));
  }

  // A PSI section, split over as many packets as it needs.
  void section(std::uint16_t pid, std::span<const std::uint8_t> sectionBytes) {
    std::vector<std::uint8_t> data{0x00};  // pointer_field
    data.insert(data.end(), sectionBytes.begin(), sectionBytes.end());
    split(pid, data);
  }

  // A PES packet with an optional PTS, split over as many packets as needed.
  void pes(std::uint16_t pid, std::uint8_t streamId, std::span<const std::uint8_t> es,
           std::optional<std::uint32_t> pts = std::nullopt) {
    std::vector<std::uint8_t> data{0x00, 0x00, 0x01, streamId, 0x00, 0x00, 0x80,
                                   static_cast<std::uint8_t>(pts ? 0x80 : 0x00),
                                   static_cast<std::uint8_t>(pts ? 5 : 0)};
    if (pts) {
      const std::uint64_t v = *pts;
      data.insert(data.end(), {static_cast<std::uint8_t>(0x21 | ((v >> 29) & 0x0E)),
                               static_cast<std::uint8_t>(v >> 22), static_cast<std::uint8_t>(0x01 | ((v >> 14) & 0xFE)),
                               static_cast<std::uint8_t>(v >> 7), static_cast<std::uint8_t>(0x01 | ((v << 1) & 0xFE))});
    }
    data.insert(data.end(), es.begin(), es.end());
    split(pid, data);
  }

  void raw(std::span<const std::uint8_t> junk) { bytes_.insert(bytes_.end(), junk.begin(), junk.end()); }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  void split(std::uint16_t pid, const std::vector<std::uint8_t>& data) {
    std::size_t pos = 0;
    bool first = true;
    do {
      const std::size_t n = std::min<std::size_t>(184, data.size() - pos);
      packet(pid, first, std::span(data).subspan(pos, n));
      pos += n;
      first = false;
    } while (pos < data.size());
  }

  unsigned packetSize_;
  std::map<std::uint16_t, unsigned> counters_;
  std::vector<std::uint8_t> bytes_;
};

// Elementary stream snippets.
inline std::vector<std::uint8_t> MpegAudioFrame(std::uint8_t byte1 = 0xFD, std::uint8_t byte2 = 0xA4,
                                                std::uint8_t byte3 = 0x00, std::size_t size = 576) {
  std::vector<std::uint8_t> f(size, 0x55);
  f[0] = 0xFF;
  f[1] = byte1;
  f[2] = byte2;
  f[3] = byte3;
  return f;
}

// An AC-3 syncframe at 48 kHz: frmsizecod selects the size, acmod/lfeon the
// layout. The body is zero; the probe does not check CRCs.
inline std::vector<std::uint8_t> Ac3Frame(unsigned acmod, unsigned lfeon, unsigned frmsizecod = 0x1C,
                                          unsigned fscod = 0) {
  static constexpr std::array<unsigned, 19> kWords{64, 80, 96, 112, 128, 160, 192, 224, 256, 320,
                                                   384, 448, 512, 640, 768, 896, 1024, 1152, 1280};
  std::vector<std::uint8_t> f(2 * kWords[(frmsizecod / 2) % 19], 0x00);
  f[0] = 0x0B;
  f[1] = 0x77;
  f[4] = static_cast<std::uint8_t>((fscod << 6) | frmsizecod);
  f[5] = 8 << 3;  // bsid 8, bsmod 0
  // acmod, then the optional 2-bit fields, then lfeon.
  unsigned bits = acmod, count = 3;
  if ((acmod & 1) && acmod != 1) bits <<= 2, count += 2;
  if (acmod & 4) bits <<= 2, count += 2;
  if (acmod == 2) bits <<= 2, count += 2;
  bits = (bits << 1) | lfeon;
  count += 1;
  f[6] = static_cast<std::uint8_t>(bits << (8 - count));
  if (count > 8) {
    f[6] = static_cast<std::uint8_t>(bits >> (count - 8));
    f[7] = static_cast<std::uint8_t>(bits << (16 - count));
  }
  return f;
}

// An E-AC-3 syncframe (independent substream 0 unless told otherwise).
inline std::vector<std::uint8_t> Eac3Frame(unsigned acmod, unsigned lfeon, unsigned frmsiz = 191,
                                           unsigned strmtyp = 0, unsigned substreamid = 0) {
  std::vector<std::uint8_t> f(2 * frmsiz + 2, 0x00);
  f[0] = 0x0B;
  f[1] = 0x77;
  f[2] = static_cast<std::uint8_t>((strmtyp << 6) | (substreamid << 3) | (frmsiz >> 8));
  f[3] = static_cast<std::uint8_t>(frmsiz & 0xFF);
  // fscod 0, numblkscod 3, acmod, lfeon
  f[4] = static_cast<std::uint8_t>((0 << 6) | (3 << 4) | (acmod << 1) | lfeon);
  f[5] = 16 << 3;  // bsid 16
  return f;
}

}  // namespace kelvor::test
