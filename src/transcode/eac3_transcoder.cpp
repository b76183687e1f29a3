#include "transcode/eac3_transcoder.h"

#include <algorithm>

#include "ac3dec/audio_block.h"
#include "ac3dec/crc16.h"
#include "ac3dec/tables.h"
#include "transcode/ac3_frame_writer.h"
#include "ac3dec/frame_header.h"

namespace kelvor {

using namespace transcode;

namespace {
constexpr std::size_t idx(unsigned i) { return i; }
}  // namespace

void Eac3Transcoder::transcoder_reset() {
  for (TranscoderStream& s : streams_) {
    s.block_count = 0;
    s.last_snr_offset = 512;
    s.has_frame = false;
  }
  dither_.reset();
  lead_blocks_ = 0;
}

bool Eac3Transcoder::transcode_eac3_frame(unsigned stream, std::span<const std::uint8_t> frame,
                                          std::span<std::uint8_t> out, std::size_t& out_bytes) {
  if (stream >= kStreams || frame.size() < 8 || out.size() < kMaxOutputBytes) return false;
  if (ac3_crc16(frame.subspan(2)) != 0) return false;

  ac3::reset_frame_state(fs_);
  meta_ = ac3::parse_eac3_bsi(br_, frame, fs_);
  ac3::start_frame(fs_);
  if (!ac3::parse_audfrm(br_, fs_)) return false;

  TranscoderStream& s = streams_[stream];
  const unsigned first_count = s.block_count;
  const auto per_six = static_cast<std::uint32_t>(frame.size() * 6 / static_cast<std::size_t>(fs_.num_blocks));
  bool result = false;
  unsigned count = first_count;
  for (int blk = 0; blk < fs_.num_blocks; ++blk) {
    BlockSlot& slot = s.slot[idx(count)];
    slot.acmod = static_cast<std::uint32_t>(fs_.acmod);
    slot.lfeon = fs_.lfeon ? 1 : 0;
    slot.frame_bytes = per_six;
    if (!blocks_.decode_block(br_, fs_, blk, dither_, slot, s.coef[idx(count)], s.lfe_coef[idx(count)])) {
      // Nothing of a rejected frame stays: the store keeps whole frames.
      // A set this frame completed was written already and stays written.
      s.block_count = result ? 0 : first_count;
      return result;
    }
    if (++count == kBlocksPerFrame) {
      lead_blocks_ = first_count;
      result = output_frame(s, meta_, out, out_bytes);
      count = 0;
    }
  }
  s.block_count = count;
  s.has_frame = true;
  s.meta = meta_;
  return result;
}

void Eac3Transcoder::decode_eac3_frame(std::span<const std::uint8_t> frame, DecodedFrame& decoded) {
  decoded.decoded = 0;
  decoded.reached_blocks = false;
  decoded.whole = false;
  if (frame.size() < 8 || ac3_crc16(frame.subspan(2)) != 0) return;

  ac3::reset_frame_state(fs_);
  decoded.meta = ac3::parse_eac3_bsi(br_, frame, fs_);
  ac3::start_frame(fs_);
  if (!ac3::parse_audfrm(br_, fs_)) return;

  decoded.reached_blocks = true;
  const auto per_six = static_cast<std::uint32_t>(frame.size() * 6 / static_cast<std::size_t>(fs_.num_blocks));
  for (int blk = 0; blk < fs_.num_blocks; ++blk) {
    BlockSlot& slot = decoded.slot[idx(decoded.decoded)];
    slot.acmod = static_cast<std::uint32_t>(fs_.acmod);
    slot.lfeon = fs_.lfeon ? 1 : 0;
    slot.frame_bytes = per_six;
    if (!blocks_.decode_block(br_, fs_, blk, dither_, slot, decoded.coef[idx(decoded.decoded)],
                              decoded.lfe_coef[idx(decoded.decoded)]))
      return;
    ++decoded.decoded;
  }
  decoded.whole = true;
}

bool Eac3Transcoder::store_decoded_frame(unsigned stream, const DecodedFrame& decoded, std::span<std::uint8_t> out,
                                         std::size_t& out_bytes) {
  if (stream >= kStreams || out.size() < kMaxOutputBytes || !decoded.reached_blocks) return false;
  TranscoderStream& s = streams_[stream];
  const unsigned first_count = s.block_count;
  bool result = false;
  unsigned count = first_count;
  for (unsigned blk = 0; blk < decoded.decoded; ++blk) {
    s.slot[idx(count)] = decoded.slot[idx(blk)];
    s.coef[idx(count)] = decoded.coef[idx(blk)];
    s.lfe_coef[idx(count)] = decoded.lfe_coef[idx(blk)];
    if (++count == kBlocksPerFrame) {
      lead_blocks_ = first_count;
      result = output_frame(s, decoded.meta, out, out_bytes);
      count = 0;
    }
  }
  if (!decoded.whole) {
    // As transcode_eac3_frame leaves it: the failed block's position holds
    // that frame's layout, and the store keeps whole frames only.
    BlockSlot& slot = s.slot[idx(count)];
    const BlockSlot& failed = decoded.slot[idx(decoded.decoded)];
    slot.acmod = failed.acmod;
    slot.lfeon = failed.lfeon;
    slot.frame_bytes = failed.frame_bytes;
    s.block_count = result ? 0 : first_count;
    return result;
  }
  s.block_count = count;
  s.has_frame = true;
  s.meta = decoded.meta;
  return result;
}

bool Eac3Transcoder::transcode_silent_blocks(unsigned stream, unsigned count, std::span<std::uint8_t> out,
                                             std::size_t& out_bytes) {
  if (stream >= kStreams || count == 0 || count > kBlocksPerFrame || out.size() < kMaxOutputBytes) return false;
  TranscoderStream& s = streams_[stream];
  if (!s.has_frame) return false;
  const unsigned first_count = s.block_count;
  // The layout of the stream's last block, or of the last one output.
  const BlockSlot last = s.slot[idx(first_count == 0 ? kBlocksPerFrame - 1 : first_count - 1)];
  bool result = false;
  unsigned stored = first_count;
  for (unsigned b = 0; b < count; ++b) {
    BlockSlot& slot = s.slot[idx(stored)];
    slot = BlockSlot{};
    slot.acmod = last.acmod;
    slot.lfeon = last.lfeon;
    slot.frame_bytes = last.frame_bytes;
    // The allocation parameters a frame without them would have.
    slot.sdcycod = 2;
    slot.fdcycod = 1;
    slot.sgaincod = 1;
    slot.dbpbcod = 2;
    slot.floorcod = 7;
    slot.fgaincod.fill(4);
    slot.lfe_fgaincod = 4;
    for (ChannelCoefs& c : s.coef[idx(stored)]) c.fill(0);
    s.lfe_coef[idx(stored)].fill(0);
    if (++stored == kBlocksPerFrame) {
      lead_blocks_ = first_count;
      result = output_frame(s, s.meta, out, out_bytes);
      stored = 0;
    }
  }
  s.block_count = stored;
  return result;
}

bool Eac3Transcoder::output_frame(TranscoderStream& s, const FrameMetadata& meta, std::span<std::uint8_t> out,
                                  std::size_t& out_bytes) {
  unsigned acmod = 7;
  bool lfeon = true;
  std::uint32_t largest = 0;
  for (const BlockSlot& slot : s.slot) {
    acmod = std::min(acmod, slot.acmod);
    lfeon = lfeon && slot.lfeon != 0;
    largest = std::max(largest, slot.frame_bytes);
  }
  const unsigned k = output_size_index(largest);
  const std::size_t n = 2u * ac3::kFrameSizeWords48[k];
  const auto frame = out.first(n);

  BitWriter bw(frame);
  write_ac3_header({k, acmod, lfeon ? 1u : 0u}, meta, bw);
  const auto header_bits = static_cast<std::int64_t>(bw.bits_written());
  // Wide exponent runs unless narrow ones, where they differ, allow a
  // higher SNR offset (see ExponentSharing).
  const auto offset_with = [&](ExponentSharing sharing) {
    reencoder_.analyse(s, static_cast<int>(acmod), lfeon, sharing);
    const std::int64_t budget = static_cast<std::int64_t>(8 * n) - header_bits - reencoder_.side_information_bits() - 18;
    return reencoder_.choose_snr_offset(budget, static_cast<int>(s.last_snr_offset))
               ? 16 * reencoder_.csnroffst() + reencoder_.fsnroffst()
               : 0;
  };
  int offset = offset_with(ExponentSharing::kWide);
  if (reencoder_.narrow_differs()) {
    const int narrow = offset_with(ExponentSharing::kNarrow);
    offset = narrow > offset ? narrow : offset_with(ExponentSharing::kWide);
  }
  if (offset == 0) return false;
  const auto fixed = header_bits + static_cast<std::int64_t>(reencoder_.side_information_bits()) + 18;
  s.last_snr_offset = static_cast<std::uint32_t>(16 * reencoder_.csnroffst() + reencoder_.fsnroffst());
  reencoder_.write_blocks(bw);
  // The count that chose the offset must be what was written; a frame that
  // disagrees is not sent.
  if (bw.overflowed() || static_cast<std::int64_t>(bw.bits_written()) + 18 != fixed + reencoder_.chosen_mantissa_bits())
    return false;
  bw.flush();
  std::fill(frame.begin() + static_cast<std::ptrdiff_t>(bw.bytes_written()), frame.end(), 0);
  write_ac3_crcs(frame, k);
  out_bytes = n;
  return true;
}

}  // namespace kelvor
