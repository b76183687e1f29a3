#include "scan/pmt.h"

#include <algorithm>

#include "common/crc32_mpeg.h"
#include "common/mpeg_ids.h"

namespace kelvor {
namespace {

constexpr std::uint8_t kIso639LanguageDescriptor = 0x0A;

bool IsAudioStreamType(std::uint8_t type) {
  // MPEG-1/2 audio, private PES (DVB AC-3/E-AC-3) and ATSC AC-3.
  return type == kStreamTypeMpeg1Audio || type == kStreamTypeMpeg2Audio || type == kStreamTypePrivatePes ||
         type == kStreamTypeAc3;
}

}  // namespace

Codec VideoCodecOfStreamType(std::uint8_t type) {
  if (type == kStreamTypeAvcVideo) return Codec::H264;
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
  for (std::uint32_t k = 0; k < languageCount; ++k) {
    if (languagePid[k] == pid) return languageCode[k].data();
  }
  return nullptr;
}

Codec Pmt::videoCodec() const {
  for (std::uint32_t k = 0; k < streamCount; ++k) {
    if (streams[k].streamType == kStreamTypeAvcVideo) return Codec::H264;
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
  pmt.languageCount = 0;
  std::copy_n(s.begin(), n, pmt.bytes.begin());
  std::size_t pos = 12 + programInfoLength;
  while (pos + 9 <= n) {
    const std::uint8_t streamType = s[pos];
    const std::uint32_t pid = ((s[pos + 1] & 0x1Fu) << 8) | s[pos + 2];
    const std::size_t esInfoLength = ((s[pos + 3] & 0x0Fu) << 8) | s[pos + 4];
    if (pos + esInfoLength + 9 > n) return false;
    if (IsAudioStreamType(streamType)) {
      for (std::size_t j = 0; j + 2 <= esInfoLength;) {
        const std::uint8_t tag = s[pos + 5 + j];
        const std::size_t len = s[pos + 6 + j];
        if (len + 2 > esInfoLength) return false;
        // A language descriptor too short for a code would read past it.
        if (tag == kIso639LanguageDescriptor && len >= 3 && j + 5 <= esInfoLength &&
            pmt.languageCount < kMaxPmtLanguages) {
          const std::uint32_t k = pmt.languageCount++;
          pmt.languagePid[k] = pid;
          pmt.languageCode[k] = {static_cast<char>(s[pos + 7 + j]), static_cast<char>(s[pos + 8 + j]),
                                 static_cast<char>(s[pos + 9 + j]), '\0'};
        }
        j += len + 2;
      }
    }
    pmt.streams[pmt.streamCount++] = {pid, streamType, static_cast<std::uint16_t>(pos + 5),
                                      static_cast<std::uint16_t>(esInfoLength)};
    pos += esInfoLength + 5;
  }
  return true;
}

}  // namespace kelvor
