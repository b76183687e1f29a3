#pragma once
// Shared by the AC-3 and E-AC-3 fuzz targets. An input is one control byte,
// then frame bytes; bits 1 and 2 of the control byte choose the stream index,
// bit 3 passes the bytes on as they are.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "ac3dec/crc16.h"
#include "ac3dec/syncframe.h"

namespace kelvor::fuzz {

struct SyncframeInput {
  std::uint8_t control = 0;
  std::span<const std::uint8_t> bytes;
  unsigned stream = 0;
  bool as_is = false;
};

inline SyncframeInput SplitInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t control = data[0];
  return {control, std::span<const std::uint8_t>(data + 1, size - 1), (control >> 1) & 3u, (control & 8u) != 0};
}

// The bytes made a syncframe that passes the CRC check, so that mutations
// reach the parsers behind it: sync word, cut or zero-padded to the length
// its header declares, fresh CRCs. Length 0 when the header declares none.
inline SyncframeInfo MakeCheckedFrame(std::span<const std::uint8_t> bytes, std::vector<std::uint8_t>& frame) {
  frame.assign(bytes.begin(), bytes.end());
  if (frame.size() < 6) frame.resize(6, 0);
  frame[0] = 0x0B;
  frame[1] = 0x77;
  const SyncframeInfo info = read_syncinfo(frame);
  if (info.length == 0) return info;
  frame.resize(info.length, 0);
  ac3_set_frame_crcs(frame, info.eac3);
  return info;
}

}  // namespace kelvor::fuzz
