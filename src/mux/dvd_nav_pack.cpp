#include "mux/dvd_nav_pack.h"

#include <algorithm>

#include "common/mpeg_ids.h"
#include "mux/byte_writer.h"
#include "mux/dvd_limits.h"

namespace kelvor {

void BuildDvdNavPack(std::span<std::uint8_t, kPackSize> pack, std::uint32_t audioStreams) {
  std::fill(pack.begin(), pack.end(), std::uint8_t{0});
  WritePackHeader(pack, kDvdMuxRate);

  ByteWriter w(pack);
  w.skip(kPackHeaderSize);
  w.u32(0x000001BB);
  w.u16(18);  // four stream entries
  w.u8((kDvdMuxRate >> 15) | 0x80);
  w.u8(kDvdMuxRate >> 7);
  w.u8((kDvdMuxRate << 1) | 1);
  w.u8(std::min<std::uint32_t>(audioStreams, 8) << 2);  // audio_bound; not fixed, not CSPS
  w.u8(0xE1);  // audio and video locked to the clock, one video stream
  w.u8(0x7F);
  // P-STD buffer bounds of the DVD decoder model: video 232 KiB, MPEG audio
  // 4 KiB, private stream 1 58 KiB, private stream 2 2 KiB.
  w.bytes({0xB9, 0xE0, 0xE8});
  w.bytes({0xB8, 0xC0, 0x20});
  w.bytes({kPrivateStream1Id, 0xE0, 0x3A});
  w.bytes({kPrivateStream2Id, 0xE0, 0x02});

  // Presentation control information, then data search information.
  w.u32(0x00000100u | kPrivateStream2Id);
  w.u16(kNavPciLength);
  w.u8(0x00);
  w.skip(kNavPciLength - 1);
  w.u32(0x00000100u | kPrivateStream2Id);
  w.u16(kNavDsiLength);
  w.u8(0x01);
}

}  // namespace kelvor
