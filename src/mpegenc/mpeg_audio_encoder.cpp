#include "mpegenc/mpeg_audio_encoder.h"

#include <algorithm>
#include <cstring>

#include "mpegenc/scale_factors.h"
#include "mpegenc/simd.h"

namespace kelvor::mpegenc {
namespace {

// The largest |sample| of each part (12 slots) of each subband.
using PartPeaks = std::array<std::array<std::uint32_t, kSubbands>, 3>;

// All 32 subbands, so that the loops run in whole vectors; built once for
// AVX-512 and once for any x86-64.
[[gnu::always_inline]] inline void PeaksBody(const SubbandFrame& s, PartPeaks& peak) {
  for (std::size_t part = 0; part < 3; ++part) {
    auto& p = peak[part];
    p.fill(0);
    for (std::size_t slot = 12 * part; slot < 12 * part + 12; ++slot) {
      for (std::size_t sb = 0; sb < kSubbands; ++sb) {
        const Q24 v = s[slot][sb];
        const std::uint32_t a = v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
        p[sb] = std::max(p[sb], a);
      }
    }
  }
}

void PeaksPlain(const SubbandFrame& s, PartPeaks& peak) { PeaksBody(s, peak); }

#if KELVOR_MPEGENC_AVX2
__attribute__((target("avx512f"))) void PeaksAvx512(const SubbandFrame& s, PartPeaks& peak) { PeaksBody(s, peak); }
#endif

}  // namespace

MpegAudioEncoder::MpegAudioEncoder(MpegFrameSink& sink, std::uint32_t outputTrackBase, const StreamFormat& format)
    : sink_(sink),
      outputTrackBase_(outputTrackBase),
      format_(format),
      table_(AllocationTableOf(format)),
      tracks_{TrackState{0, FrameLengths(format)}, TrackState{0, FrameLengths(format)}, TrackState{0, FrameLengths(format)},
              TrackState{0, FrameLengths(format)}},
      model_(SimdLevel::kAvx512, format.sampleRate) {}

void MpegAudioEncoder::reset(std::uint32_t outputTrackBase) {
  outputTrackBase_ = outputTrackBase;
  for (TrackState& t : tracks_) {
    t.samplesWaiting = 0;
    t.lengths.reset();
    for (auto& channel : t.pcm) channel.fill(0);
  }
}

bool MpegAudioEncoder::EncodeSamples(unsigned j, std::span<const Q24> left, std::span<const Q24> right,
                                     std::size_t count) {
  if (j >= kTracks) return false;
  const bool mono = format_.channels == 1;
  count = std::min({count, left.size(), mono ? left.size() : right.size()});
  TrackState& t = tracks_[j];
  std::size_t taken = 0;
  while (taken < count) {
    const std::size_t d = std::min<std::size_t>(count - taken, kFrameSamples - t.samplesWaiting);
    const std::size_t at = kFilterHistory + t.samplesWaiting;
    std::memcpy(&t.pcm[0][at], left.data() + taken, d * sizeof(Q24));
    if (!mono) std::memcpy(&t.pcm[1][at], right.data() + taken, d * sizeof(Q24));
    t.samplesWaiting += static_cast<std::uint32_t>(d);
    taken += d;
    if (t.samplesWaiting == kFrameSamples) {
      if (!sink_.WriteMpegAudioFrame(outputTrackBase_ + j, EncodeFrame(j))) return false;
    }
  }
  return true;
}

std::span<const std::uint8_t> MpegAudioEncoder::EncodeFrame(unsigned j) {
  TrackState& t = tracks_[j];
  const auto channels = static_cast<std::size_t>(format_.channels);
  const auto sblimit = static_cast<std::size_t>(table_.sblimit);
  ChannelIndices scfsi{};
  for (std::size_t ch = 0; ch < channels; ++ch) {
    const auto& pcm = t.pcm[ch];
    SubbandFrame& s = subbands_[ch];
    AnalyseFrame(pcm, s);

    // Scale factor of each part: the largest |sample| over its 12 slots.
    PartPeaks peak;
#if KELVOR_MPEGENC_AVX2
    if (UsableSimd() == SimdLevel::kAvx512) {
      PeaksAvx512(s, peak);
    } else {
      PeaksPlain(s, peak);
    }
#else
    PeaksPlain(s, peak);
#endif
    std::array<std::uint8_t, kMaxSubbands> largest{};
    for (std::size_t sb = 0; sb < sblimit; ++sb) {
      auto& idx = details_.scaleIndex[ch][sb];
      for (std::size_t part = 0; part < 3; ++part) {
        const std::uint32_t m = std::min<std::uint32_t>(peak[part][sb], 0x7FFFFFFF);
        idx[part] = static_cast<std::uint8_t>(ScaleFactorIndex(static_cast<Q24>(m)));
      }
      largest[sb] = std::min({idx[0], idx[1], idx[2]});
      details_.scale[ch][sb] = ChooseTransmission(idx[0], idx[1], idx[2]);
      scfsi[ch][sb] = details_.scale[ch][sb].scfsi;
    }

    const std::span<const Q24, kFftSize> modelInput(pcm.data() + kFilterHistory - kModelLookBack, kFftSize);
    model_.Compute(modelInput, std::span(largest).first(sblimit), std::span(details_.smr[ch]).first(sblimit));
  }
  const FrameLengths::Frame length = t.lengths.next();
  details_.allocation = AllocateBits(details_.smr, scfsi, AllocationBudget(length.bytes, table_, format_.channels),
                                     SimdLevel::kAvx512, table_, format_.channels);
  const std::span<std::uint8_t> out(frame_.data(), length.bytes);
  WriteFrame(subbands_, details_.scale, details_.allocation, {&table_, format_.channels, FrameHeader(format_, length.padded)}, out);

  // The frame's tail becomes the next frame's history.
  for (auto& channel : t.pcm) std::memmove(channel.data(), channel.data() + kFrameSamples, kFilterHistory * sizeof(Q24));
  t.samplesWaiting = 0;
  return out;
}

}  // namespace kelvor::mpegenc
