#include "scan/pmt_parser.h"

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

bool parsePmt(std::span<const std::uint8_t> s, TrackTable& tracks) {
  if (s.size() < 3) return false;
  const std::size_t n = (((s[1] & 0x0Fu) << 8) | s[2]) + 3u;
  if (n < 16 || n > s.size()) return false;
  if ((s[1] & 0xC0) != 0x80) return false;  // section_syntax_indicator 1, then '0'
  if (s[6] != 0 || s[7] != 0) return false;  // one-section table only
  if (Crc32Mpeg(s.first(n)) != 0) return false;

  const std::size_t programInfoLength = ((s[10] & 0x0Fu) << 8) | s[11];
  if (programInfoLength + 16 > n) return false;

  tracks.languageCount = 0;
  bool h264 = false;
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
            tracks.languageCount < kMaxLanguages) {
          const std::uint32_t k = tracks.languageCount++;
          tracks.languagePid[k] = pid;
          tracks.languageCode[k] = {static_cast<char>(s[pos + 7 + j]), static_cast<char>(s[pos + 8 + j]),
                                    static_cast<char>(s[pos + 9 + j]), '\0'};
        }
        j += len + 2;
      }
    } else if (streamType == kStreamTypeAvcVideo) {
      h264 = true;
    }
    pos += esInfoLength + 5;
  }
  tracks.videoIsH264 = h264;
  return true;
}

}  // namespace kelvor
