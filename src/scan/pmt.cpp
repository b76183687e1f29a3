#include "scan/pmt.h"

#include <algorithm>

#include "common/crc32_mpeg.h"
#include "common/mpeg_ids.h"

namespace kelvor {
namespace {

constexpr std::uint8_t kIso639LanguageDescriptor = 0x0A;
constexpr std::uint8_t kTeletextDescriptor = 0x56;
constexpr std::uint8_t kSubtitlingDescriptor = 0x59;

// The language and audio type of one ES_info loop. A descriptor that runs
// past the loop ends the reading.
void ReadLanguage(std::span<const std::uint8_t> loop, PmtEntry& e) {
  for (std::size_t j = 0; j + 2 <= loop.size();) {
    const std::uint8_t tag = loop[j];
    const std::size_t len = loop[j + 1];
    if (j + 2 + len > loop.size()) return;
    const bool codeFirst = tag == kIso639LanguageDescriptor || tag == kTeletextDescriptor ||
                           tag == kSubtitlingDescriptor;
    if (codeFirst && len >= 3 && e.language[0] == '\0') {
      e.language = {static_cast<char>(loop[j + 2]), static_cast<char>(loop[j + 3]), static_cast<char>(loop[j + 4]),
                    '\0'};
      // A NUL in the code would end it early; such a code names nothing.
      if (e.language[0] == '\0' || e.language[1] == '\0' || e.language[2] == '\0') e.language = {};
      if (tag == kIso639LanguageDescriptor && len >= 4) e.audioType = loop[j + 5];
    }
    j += len + 2;
  }
}

}  // namespace

Codec VideoCodecOfStreamType(std::uint8_t type) {
  if (type == kStreamTypeAvcVideo) return Codec::H264;
  if (type == kStreamTypeHevcVideo) return Codec::Hevc;
  if (type == 0x01 || type == kStreamTypeMpeg2Video) return Codec::Mpeg2Video;
  return Codec::None;
}

const PmtEntry* Pmt::find(std::uint32_t pid) const {
  for (std::uint32_t k = 0; k < streamCount; ++k) {
    if (streams[k].pid == pid) return &streams[k];
  }
  return nullptr;
}

const char* Pmt::languageOf(std::uint32_t pid) const {
  const PmtEntry* e = find(pid);
  return e != nullptr && e->language[0] != '\0' ? e->language.data() : nullptr;
}

Codec Pmt::videoCodec() const {
  for (std::uint32_t k = 0; k < streamCount; ++k) {
    if (streams[k].streamType == kStreamTypeAvcVideo) return Codec::H264;
    if (streams[k].streamType == kStreamTypeHevcVideo) return Codec::Hevc;
  }
  return Codec::Mpeg2Video;
}

bool ParsePmt(std::span<const std::uint8_t> s, Pmt& pmt) {
  if (s.size() < 3) return false;
  const std::size_t n = (((s[1] & 0x0Fu) << 8) | s[2]) + 3u;
  if (n < 16 || n > s.size() || n > kMaxPmtBytes) return false;
  if ((s[1] & 0xC0) != 0x80) return false;  // section_syntax_indicator 1, then '0'
  if (s[6] != 0 || s[7] != 0) return false;  // one-section table only
  if (Crc32Mpeg(s.first(n)) != 0) return false;

  const std::size_t programInfoLength = ((s[10] & 0x0Fu) << 8) | s[11];
  if (programInfoLength + 16 > n) return false;

  pmt.programNumber = (std::uint32_t{s[3]} << 8) | s[4];
  pmt.streamCount = 0;
  std::copy_n(s.begin(), n, pmt.bytes.begin());
  std::size_t pos = 12 + programInfoLength;
  while (pos + 9 <= n) {
    const std::uint8_t streamType = s[pos];
    const std::uint32_t pid = ((s[pos + 1] & 0x1Fu) << 8) | s[pos + 2];
    const std::size_t esInfoLength = ((s[pos + 3] & 0x0Fu) << 8) | s[pos + 4];
    if (pos + esInfoLength + 9 > n) return false;
    PmtEntry& e = pmt.streams[pmt.streamCount++];
    e = {pid, streamType, static_cast<std::uint16_t>(pos + 5), static_cast<std::uint16_t>(esInfoLength)};
    if (VideoCodecOfStreamType(streamType) == Codec::None) ReadLanguage(s.subspan(pos + 5, esInfoLength), e);
    pos += esInfoLength + 5;
  }
  return true;
}

}  // namespace kelvor
