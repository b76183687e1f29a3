#include "ac3dec/syncframe.h"

#include "ac3dec/eac3_tables.h"
#include "ac3dec/tables.h"

namespace kelvor {

std::size_t find_sync_word(std::span<const std::uint8_t> bytes, std::size_t from) {
  for (std::size_t at = from; at + 1 < bytes.size(); ++at) {
    if (sync_word_at(bytes, at)) return at;
  }
  return bytes.size();
}

SyncframeInfo read_syncinfo(std::span<const std::uint8_t> bytes) {
  SyncframeInfo info;
  if (bytes.size() < 6 || !sync_word_at(bytes, 0)) return info;
  const unsigned bsid = bytes[5] >> 3;
  if (bsid <= 8) {
    const unsigned fscod = bytes[4] >> 6;
    const unsigned frmsizecod = bytes[4] & 0x3Fu;
    if (fscod != 0 || frmsizecod >= 38) return info;
    info.length = 2u * ac3::kFrameSizeWords48[frmsizecod / 2];
    info.num_blocks = 6;
    info.independent = true;
    return info;
  }
  if (bsid < 10 || bsid > 16) return info;
  const unsigned strmtyp = bytes[2] >> 6;
  const unsigned substreamid = (bytes[2] >> 3) & 7u;
  const unsigned frmsiz = ((bytes[2] & 7u) << 8) | bytes[3];
  const unsigned fscod = bytes[4] >> 6;
  if (fscod != 0) return info;
  info.eac3 = true;
  info.length = 2u * (frmsiz + 1);
  info.num_blocks = eac3::kBlocksPerFrame[(bytes[4] >> 4) & 3u];
  info.independent = (strmtyp == 0 || strmtyp == 2) && substreamid == 0;
  return info;
}

}  // namespace kelvor
