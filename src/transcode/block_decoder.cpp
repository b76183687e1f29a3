#include "transcode/block_decoder.h"

#include <algorithm>

#include "ac3dec/audio_block.h"
#include "ac3dec/q24_avx2.h"
#include "ac3dec/tables.h"

namespace kelvor::transcode {

using namespace ac3;

namespace {

constexpr std::size_t idx(int i) { return static_cast<std::size_t>(i); }

// The code of a bit allocation parameter from its table value.
template <std::size_t N>
std::uint32_t code_of(const std::array<std::int32_t, N>& table, int value) {
  for (std::size_t c = 0; c < N; ++c) {
    if (table[c] == value) return static_cast<std::uint32_t>(c);
  }
  return 0;
}

void copy_channel(const Q24* from, ChannelCoefs& to) { std::copy_n(from, to.size(), to.data()); }

#if defined(KELVOR_HAVE_AVX2_PATH)
// The plain copy becomes a string move, which is slow to start for one
// channel's kilobyte.
__attribute__((target("avx2"))) void copy_channel_avx2(const Q24* from, ChannelCoefs& to) {
  for (std::size_t bin = 0; bin < to.size(); bin += 8) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to.data() + bin),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + bin)));
  }
}
#endif

using CopyChannel = void (*)(const Q24*, ChannelCoefs&);

CopyChannel channel_copier() {
#if defined(KELVOR_HAVE_AVX2_PATH)
  if (avx2::available()) return copy_channel_avx2;
#endif
  return copy_channel;
}

}  // namespace

bool BlockDecoder::decode_block(BitReader& br, FrameState& fs, int blk, Ac3Dither& dither, BlockSlot& slot,
                                std::array<ChannelCoefs, kMaxChannels>& coef, std::array<Q24, kLfeBins>& lfe_coef) {
  BlockChanges changes;
  if (!parse_audio_block(br, fs, blk, changes)) return false;
  if (changes.any()) block_.allocate_bits(fs, changes);
  if (!block_.read_mantissas(br, fs, blk, dither)) return false;
  block_.resolve_channels(fs, dither);

  static const CopyChannel copy = channel_copier();
  const auto& coeffs = block_.coeffs();
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    if (ch < fs.nfchans) {
      copy(coeffs[idx(ch)].data(), coef[idx(ch)]);
    } else {
      coef[idx(ch)].fill(0);
    }
  }
  for (int bin = 0; bin < kLfeBins; ++bin) lfe_coef[idx(bin)] = fs.lfeon ? coeffs[kLfe][idx(bin)] : 0;
  record_side_information(fs, slot);
  return true;
}

void BlockDecoder::record_side_information(const FrameState& fs, BlockSlot& slot) {
  slot.blksw.fill(0);
  slot.dithflag.fill(0);
  slot.fgaincod.fill(0);
  slot.chbwcod.fill(0);
  for (int ch = 0; ch < fs.nfchans; ++ch) {
    const auto c = idx(ch);
    slot.blksw[c] = fs.blksw[c] ? 1 : 0;
    slot.dithflag[c] = fs.dithflag[c] ? 1 : 0;
    slot.fgaincod[c] = static_cast<std::uint32_t>(fs.fgaincod[c] & 7);
    // Where the channel's coefficients end once every tool has run.
    int end = fs.endmant[c];
    if (fs.spxinu && fs.chinspx[c]) {
      end = fs.spx_end;
    } else if (fs.cplinu && fs.chincpl[c]) {
      end = fs.cpl_end;
    }
    slot.chbwcod[c] = static_cast<std::uint32_t>(std::clamp((end - 71) / 3, 0, 60));
  }
  slot.lfe_fgaincod = static_cast<std::uint32_t>(fs.fgaincod[kLfe] & 7);
  slot.dynrng = static_cast<std::uint32_t>(fs.dynrng[0]);
  slot.dynrng2 = static_cast<std::uint32_t>(fs.dynrng[1]);
  slot.sdcycod = code_of(kSlowDecay, fs.sdecay);
  slot.fdcycod = code_of(kFastDecay, fs.fdecay);
  slot.sgaincod = code_of(kSlowGain, fs.sgain);
  slot.dbpbcod = code_of(kDbPerBit, fs.dbknee);
  slot.floorcod = code_of(kFloor, fs.floor);
}

}  // namespace kelvor::transcode
