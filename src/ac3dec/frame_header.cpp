#include "ac3dec/frame_header.h"

#include "ac3dec/crc16.h"
#include "ac3dec/eac3_tables.h"
#include "ac3dec/syncframe.h"
#include "ac3dec/tables.h"

namespace kelvor::ac3 {

namespace {

bool ac3_length_matches(std::span<const std::uint8_t> frame) {
  const unsigned fscod = frame[4] >> 6;
  const unsigned frmsizecod = frame[4] & 0x3Fu;
  const unsigned bsid = frame[5] >> 3;
  if (fscod != 0 || bsid > 8 || frmsizecod >= 38) return false;
  return frame.size() == 2u * kFrameSizeWords48[frmsizecod / 2];
}

bool eac3_length_matches(std::span<const std::uint8_t> frame) {
  const unsigned strmtyp = frame[2] >> 6;
  const unsigned substreamid = (frame[2] >> 3) & 7u;
  const unsigned frmsiz = ((frame[2] & 7u) << 8) | frame[3];
  const unsigned fscod = frame[4] >> 6;
  const unsigned bsid = frame[5] >> 3;
  if ((strmtyp != 0 && strmtyp != 2) || substreamid != 0 || fscod != 0) return false;
  if (bsid < 10 || bsid > 16) return false;
  return frame.size() == 2u * (frmsiz + 1);
}

// Skips one "present flag + value" pair and returns the flag.
bool skip_optional(BitReader& br, unsigned bits) {
  const bool present = br.read_bits(1) != 0;
  if (present) br.read_bits(bits);
  return present;
}

// A "present flag + value" pair: the value, or 0 when absent; the flag in `e`.
std::uint32_t optional_value(BitReader& br, unsigned bits, std::uint32_t& e) {
  e = br.read_bits(1);
  return e != 0 ? br.read_bits(bits) : 0;
}

void skip_addbsi(BitReader& br) {
  if (br.read_bits(1)) {
    const unsigned addbsil = br.read_bits(6);
    br.skip_bits_long((addbsil + 1) * 8);
  }
}

}  // namespace

bool check_syncframe(std::span<const std::uint8_t> frame, bool eac3) {
  if (frame.size() < 8 || !sync_word_at(frame, 0)) return false;
  if (eac3) {
    if (!eac3_length_matches(frame)) return false;
    return ac3_crc16(frame.subspan(2)) == 0;
  }
  if (!ac3_length_matches(frame)) return false;
  const std::size_t length = frame.size();
  const std::size_t p = 2 * (length / 4 + length / 16);  // end of the first 5/8
  return ac3_crc16(frame.subspan(2, p - 2)) == 0 && ac3_crc16(frame.subspan(p)) == 0;
}

bool parse_ac3_bsi(BitReader& br, std::span<const std::uint8_t> frame, FrameState& fs) {
  br.reset(frame);
  br.skip_bits_long(6 * 8);  // syncword, crc1, fscod, frmsizecod, bsid, bsmod
  fs.eac3 = false;
  fs.frame_words = static_cast<int>(frame.size() / 2);
  fs.acmod = static_cast<int>(br.read_bits(3));
  fs.nfchans = kNfchans[static_cast<std::size_t>(fs.acmod)];
  if ((fs.acmod & 1) && fs.acmod != 1) br.read_bits(2);  // cmixlev
  if (fs.acmod & 4) br.read_bits(2);                      // surmixlev
  if (fs.acmod == 2) br.read_bits(2);                     // dsurmod
  fs.lfeon = br.read_bits(1) != 0;
  for (int program = 0; program < (fs.acmod == 0 ? 2 : 1); ++program) {
    br.read_bits(5);          // dialnorm
    skip_optional(br, 8);     // compre, compr
    skip_optional(br, 8);     // langcode, langcod
    skip_optional(br, 7);     // audprodie, mixlevel, roomtyp
  }
  br.read_bits(2);            // copyrightb, origbs
  skip_optional(br, 14);      // timecod1
  skip_optional(br, 14);      // timecod2
  skip_addbsi(br);

  // AC-3 as the special case of the common block syntax.
  fs.strmtyp = 2;
  fs.num_blocks = 6;
  fs.snroffststr = 2;
  fs.blkswe = true;
  fs.dithflage = true;
  fs.bamode = true;
  fs.frmfgaincode = false;
  fs.dbaflde = true;
  fs.skipflde = true;
  fs.expstre = true;
  fs.ahte = false;
  fs.spxattene = false;
  fs.transproce = false;
  return true;
}

Eac3BsiValues parse_eac3_bsi(BitReader& br, std::span<const std::uint8_t> frame, FrameState& fs) {
  Eac3BsiValues v;
  br.reset(frame);
  br.read_bits(16);  // syncword
  fs.eac3 = true;
  fs.frame_words = static_cast<int>(frame.size() / 2);
  fs.strmtyp = static_cast<int>(br.read_bits(2));
  br.read_bits(3);   // substreamid
  br.read_bits(11);  // frmsiz
  br.read_bits(2);   // fscod
  const unsigned numblkscod = br.read_bits(2);
  fs.num_blocks = eac3::kBlocksPerFrame[numblkscod];
  fs.acmod = static_cast<int>(br.read_bits(3));
  fs.nfchans = kNfchans[static_cast<std::size_t>(fs.acmod)];
  fs.lfeon = br.read_bits(1) != 0;
  br.read_bits(5);  // bsid
  v.dialnorm = br.read_bits(5);
  v.compr = optional_value(br, 8, v.compre);
  if (fs.acmod == 0) {
    v.dialnorm2 = br.read_bits(5);
    v.compr2 = optional_value(br, 8, v.compr2e);
  }
  if (br.read_bits(1)) {  // mixmdate
    if (fs.acmod > 2) br.read_bits(2);                       // dmixmod
    if ((fs.acmod & 1) && fs.acmod > 2) br.read_bits(6);     // ltrtcmixlev, lorocmixlev
    if (fs.acmod & 4) br.read_bits(6);                       // ltrtsurmixlev, lorosurmixlev
    if (fs.lfeon) skip_optional(br, 5);                      // lfemixlevcode, lfemixlevcod
    if (fs.strmtyp == 0) {
      skip_optional(br, 6);                                  // pgmscle, pgmscl
      if (fs.acmod == 0) skip_optional(br, 6);               // pgmscl2e, pgmscl2
      skip_optional(br, 6);                                  // extpgmscle, extpgmscl
      switch (br.read_bits(2)) {                             // mixdef
        case 1: br.read_bits(5); break;
        case 2: br.read_bits(12); break;
        case 3: br.skip_bits_long((br.read_bits(5) + 2) * 8); break;
        default: break;
      }
      if (fs.acmod < 2) {
        skip_optional(br, 14);                               // paninfoe, paninfo
        if (fs.acmod == 0) skip_optional(br, 14);            // paninfo2e, paninfo2
      }
      if (br.read_bits(1)) {                                 // frmmixcfginfoe
        if (fs.num_blocks == 1) {
          br.read_bits(5);                                   // blkmixcfginfo
        } else {
          for (int blk = 0; blk < fs.num_blocks; ++blk) skip_optional(br, 5);
        }
      }
    }
  }
  if (br.read_bits(1)) {  // infomdate
    br.read_bits(3);      // bsmod
    v.copyrightb = br.read_bits(1);
    v.origbs = br.read_bits(1);
    if (fs.acmod == 2) {
      v.dsurmod = br.read_bits(2);
      br.read_bits(2);                         // dheadphonmod
    } else if (fs.acmod >= 6) {
      br.read_bits(2);                         // dsurexmod
    }
    const auto production = [&br](std::uint32_t& e, std::uint32_t& mixlevel, std::uint32_t& roomtyp) {
      e = br.read_bits(1);
      if (e == 0) return;
      mixlevel = br.read_bits(5);
      roomtyp = br.read_bits(2);
      br.read_bits(1);  // adconvtyp
    };
    production(v.audprodie, v.mixlevel, v.roomtyp);
    if (fs.acmod == 0) production(v.audprodi2e, v.mixlevel2, v.roomtyp2);
    br.read_bits(1);                           // sourcefscod
  }
  if (fs.strmtyp == 0 && fs.num_blocks != 6) br.read_bits(1);  // convsync
  if (fs.strmtyp == 2) {
    const bool blkid = fs.num_blocks == 6 || br.read_bits(1) != 0;
    if (blkid) br.read_bits(6);  // frmsizecod
  }
  skip_addbsi(br);
  return v;
}

}  // namespace kelvor::ac3
