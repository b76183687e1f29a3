#include "transcode/eac3_bsi.h"

#include "ac3dec/eac3_tables.h"
#include "ac3dec/tables.h"

namespace kelvor::transcode {

namespace {

// A "present flag + value" pair: the value, or 0 when absent; the flag in `e`.
std::uint32_t optional_field(BitReader& br, unsigned bits, std::uint32_t& e) {
  e = br.read_bits(1);
  return e != 0 ? br.read_bits(bits) : 0;
}

void skip_optional(BitReader& br, unsigned bits) {
  if (br.read_bits(1)) br.read_bits(bits);
}

void read_mixing_metadata(BitReader& br, const ac3::FrameState& fs) {
  if (fs.acmod > 2) br.read_bits(2);                    // dmixmod
  if ((fs.acmod & 1) && fs.acmod > 2) br.read_bits(6);  // ltrtcmixlev, lorocmixlev
  if (fs.acmod & 4) br.read_bits(6);                    // ltrtsurmixlev, lorosurmixlev
  if (fs.lfeon) skip_optional(br, 5);                   // lfemixlevcod
  if (fs.strmtyp != 0) return;
  skip_optional(br, 6);                                 // pgmscl
  if (fs.acmod == 0) skip_optional(br, 6);              // pgmscl2
  skip_optional(br, 6);                                 // extpgmscl
  switch (br.read_bits(2)) {                            // mixdef
    case 1: br.read_bits(5); break;
    case 2: br.read_bits(12); break;
    case 3: br.skip_bits_long((br.read_bits(5) + 2) * 8); break;
    default: break;
  }
  if (fs.acmod < 2) {
    skip_optional(br, 14);                              // paninfo
    if (fs.acmod == 0) skip_optional(br, 14);           // paninfo2
  }
  if (br.read_bits(1)) {                                // frmmixcfginfoe
    if (fs.num_blocks == 1) {
      br.read_bits(5);
    } else {
      for (int blk = 0; blk < fs.num_blocks; ++blk) skip_optional(br, 5);
    }
  }
}

void read_informational_metadata(BitReader& br, const ac3::FrameState& fs, FrameMetadata& meta) {
  br.read_bits(3);  // bsmod
  meta.copyrightb = br.read_bits(1);
  meta.origbs = br.read_bits(1);
  if (fs.acmod == 2) {
    meta.dsurmod = br.read_bits(2);
    br.read_bits(2);  // dheadphonmod
  } else if (fs.acmod >= 6) {
    br.read_bits(2);  // dsurexmod
  }
  const auto production = [&br](std::uint32_t& e, std::uint32_t& mixlevel, std::uint32_t& roomtyp) {
    e = br.read_bits(1);
    if (e == 0) return;
    mixlevel = br.read_bits(5);
    roomtyp = br.read_bits(2);
    br.read_bits(1);  // adconvtyp
  };
  production(meta.audprodie, meta.mixlevel, meta.roomtyp);
  if (fs.acmod == 0) production(meta.audprodi2e, meta.mixlevel2, meta.roomtyp2);
  br.read_bits(1);  // sourcefscod
}

}  // namespace

void read_eac3_bsi(BitReader& br, std::span<const std::uint8_t> frame, ac3::FrameState& fs, FrameMetadata& meta) {
  meta = FrameMetadata{};
  br.reset(frame);
  br.read_bits(16);  // syncword
  fs.eac3 = true;
  fs.frame_words = static_cast<int>(frame.size() / 2);
  fs.strmtyp = static_cast<int>(br.read_bits(2));
  br.read_bits(3);   // substreamid
  br.read_bits(11);  // frmsiz
  br.read_bits(2);   // fscod
  fs.num_blocks = eac3::kBlocksPerFrame[br.read_bits(2)];
  fs.acmod = static_cast<int>(br.read_bits(3));
  fs.nfchans = ac3::kNfchans[static_cast<std::size_t>(fs.acmod)];
  fs.lfeon = br.read_bits(1) != 0;
  br.read_bits(5);  // bsid
  meta.dialnorm = br.read_bits(5);
  meta.compr = optional_field(br, 8, meta.compre);
  if (fs.acmod == 0) {
    meta.dialnorm2 = br.read_bits(5);
    meta.compr2 = optional_field(br, 8, meta.compr2e);
  }
  if (br.read_bits(1)) read_mixing_metadata(br, fs);
  if (br.read_bits(1)) read_informational_metadata(br, fs, meta);
  if (fs.strmtyp == 0 && fs.num_blocks != 6) br.read_bits(1);  // convsync
  if (fs.strmtyp == 2 && (fs.num_blocks == 6 || br.read_bits(1) != 0)) br.read_bits(6);  // blkid, frmsizecod
  if (br.read_bits(1)) br.skip_bits_long((br.read_bits(6) + 1) * 8);  // addbsi
}

}  // namespace kelvor::transcode
