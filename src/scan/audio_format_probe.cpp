#include "scan/audio_format_probe.h"

#include <array>
#include <cstdio>

#include "matroska/aac_config.h"
#include "scan/dts_tables.h"

namespace kelvor {
namespace {

std::uint32_t Be32(std::span<const std::uint8_t> b, std::size_t at) {
  return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

bool ReadAsc(std::span<const std::uint8_t> asc, AudioFormat& f) {
  const mkv::AscSummary s = mkv::SummariseAsc(asc);
  if (s.sampleRate == 0 || asc.empty()) return false;
  f.objectType = asc[0] >> 3u;
  f.sampleRate = s.sampleRate;
  f.channels = s.channels;
  f.found = true;
  return true;
}

bool ProbeAdts(std::span<const std::uint8_t> p, AudioFormat& f) {
  for (std::size_t at = 0; at + 7 <= p.size(); ++at) {
    const auto h = mkv::ReadAdtsHeader(p.subspan(at));
    if (!h) continue;
    // Where the frame's end is in view, the next header must be there.
    const std::size_t next = at + h->frameSize;
    if (next + 2 <= p.size() && !(p[next] == 0xFF && (p[next + 1] & 0xF6) == 0xF0)) continue;
    std::array<std::uint8_t, 2> asc{};
    if (mkv::AscFromAdts(*h, asc) == 0) continue;
    return ReadAsc(asc, f);
  }
  return false;
}

bool ProbeLatm(std::span<const std::uint8_t> p, AudioFormat& f) {
  for (std::size_t at = 0; at + 3 <= p.size(); ++at) {
    if (p[at] != 0x56 || (p[at + 1] & 0xE0) != 0xE0) continue;
    std::array<std::uint8_t, 64> asc{};
    const std::size_t n = mkv::AscFromLatm(p.subspan(at), asc);
    if (n > 0 && ReadAsc(std::span(asc).first(n), f)) return true;
  }
  return false;
}

bool ProbeDts(std::span<const std::uint8_t> p, AudioFormat& f) {
  for (std::size_t at = 0; at + 12 <= p.size(); ++at) {
    if (Be32(p, at) != 0x7FFE8001) continue;
    // After the sync: FTYPE 1, SHORT 5, CPF 1, NBLKS 7, FSIZE 14, AMODE 6,
    // SFREQ 4, RATE 5, then five flags, EXT_AUDIO_ID 3, EXT_AUDIO 1, ASPF 1
    // and LFF 2.
    const std::uint64_t bits = (std::uint64_t{Be32(p, at + 4)} << 32) | Be32(p, at + 8);
    const auto field = [&](unsigned from, unsigned width) {
      return static_cast<std::uint32_t>((bits >> (64 - from - width)) & ((1u << width) - 1));
    };
    const std::uint32_t frameBytes = field(14, 14) + 1;
    const std::uint32_t amode = field(28, 6);
    const std::uint32_t rate = kDtsSampleRates[field(34, 4)];
    const std::uint32_t lff = field(53, 2);
    if (rate == 0 || frameBytes < 96 || lff == 3) continue;
    f.sampleRate = rate;
    f.channels = amode < kDtsChannels.size() ? kDtsChannels[amode] : 0;
    f.lfe = lff != 0;
    const std::size_t hd = at + frameBytes;
    f.extensions = hd + 4 <= p.size() && Be32(p, hd) == 0x64582025;
    f.found = true;
    return true;
  }
  return false;
}

bool ProbeTrueHd(std::span<const std::uint8_t> p, AudioFormat& f) {
  // The major sync of an access unit, then the rate code in the high nibble.
  constexpr std::array<std::uint32_t, 16> kRates = {48000, 96000, 192000, 0, 0, 0, 0, 0,
                                                    44100, 88200, 176400, 0, 0, 0, 0, 0};
  for (std::size_t at = 4; at + 5 <= p.size(); ++at) {
    if (Be32(p, at) != 0xF8726FBA) continue;
    const std::uint32_t rate = kRates[p[at + 4] >> 4];
    if (rate == 0) continue;
    f.sampleRate = rate;
    f.found = true;
    return true;
  }
  return false;
}

const char* AacProfile(std::uint32_t objectType) {
  switch (objectType) {
    case 1: return "AAC Main";
    case 2: return "AAC-LC";
    case 3: return "AAC SSR";
    case 4: return "AAC LTP";
    case 5: return "HE-AAC";
    case 29: return "HE-AACv2";
    default: return "AAC";
  }
}

}  // namespace

bool ProbeAudioFormat(Codec codec, std::span<const std::uint8_t> payload, AudioFormat& format) {
  switch (codec) {
    case Codec::AacAdts: return ProbeAdts(payload, format);
    case Codec::AacLatm: return ProbeLatm(payload, format);
    case Codec::Dts: return ProbeDts(payload, format);
    case Codec::TrueHd: return ProbeTrueHd(payload, format);
    default: return false;
  }
}

std::string DescribeAudioFormat(Codec codec, const AudioFormat& f) {
  if (!f.found) return {};
  char text[64];
  const double khz = f.sampleRate / 1000.0;
  if (IsAacCodec(codec)) {
    std::snprintf(text, sizeof text, "%s %g kHz %u ch", AacProfile(f.objectType), khz, f.channels);
  } else if (codec == Codec::Dts) {
    std::snprintf(text, sizeof text, "DTS %g kHz %u.%u%s", khz, f.channels, f.lfe ? 1u : 0u,
                  f.extensions ? " +HD" : "");
  } else {
    std::snprintf(text, sizeof text, "TrueHD %g kHz", khz);
  }
  return text;
}

}  // namespace kelvor
