#include "mpegenc/frame_writer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "mpegenc/simd.h"

namespace kelvor::mpegenc {
namespace {

// Most significant bit first into a fixed buffer.
class BitWriter {
 public:
  explicit BitWriter(std::span<std::uint8_t, kFrameBytes> out) : out_(out) {}

  // value < 2^bits, bits <= 32
  void put(std::uint32_t value, int bits) {
    acc_ = (acc_ << bits) | value;
    pending_ += bits;
    if (pending_ >= 32) {
      pending_ -= 32;
      const std::uint32_t word = __builtin_bswap32(static_cast<std::uint32_t>(acc_ >> pending_));  // most significant byte first
      if (pos_ + 4 <= out_.size()) std::memcpy(out_.data() + pos_, &word, 4);
      pos_ += 4;
    }
  }

  // Completes the last byte with zero bits and fills the frame with zero bytes.
  void finish() {
    if (pending_ % 8 != 0) put(0, 8 - pending_ % 8);
    while (pending_ > 0) {
      pending_ -= 8;
      if (pos_ < out_.size()) out_[pos_] = static_cast<std::uint8_t>(acc_ >> pending_);
      ++pos_;
    }
    std::fill(out_.begin() + static_cast<std::ptrdiff_t>(std::min(pos_, out_.size())), out_.end(), std::uint8_t{0});
  }

 private:
  std::span<std::uint8_t, kFrameBytes> out_;
  std::uint64_t acc_ = 0;
  int pending_ = 0;
  std::size_t pos_ = 0;
};

constexpr std::int64_t kOne = std::int64_t{1} << 24;

std::uint32_t Quantise(std::int64_t x, const QuantClass& q) {
  x = std::clamp(x, -(kOne - 1), kOne - 1);
  return static_cast<std::uint32_t>((((x + kOne) * q.a + (kOne >> 1)) >> 24) >> q.shift);
}

// Twelve samples of one part, as plain loops the compiler vectorises; built
// once for AVX2 and once for any x86-64. s * 2^24 / f is a double division:
// the dividend is exact below 2^53, and a correctly rounded quotient below
// 2^25 truncates to the true one (a non-integer quotient is at least 1/f
// from the next integer, far more than the rounding). Larger quotients only
// come from clipped samples and are clamped anyway.
[[gnu::always_inline]] inline void QuantiseBody(const Q24* s, Q24 f, std::int64_t a, int shift, std::uint16_t* code) {
  for (std::size_t i = 0; i < 12; ++i) {
    std::int64_t x = static_cast<std::int64_t>(static_cast<double>(s[i]) * 16777216.0 / static_cast<double>(f));
    x = x < -(kOne - 1) ? -(kOne - 1) : x > kOne - 1 ? kOne - 1 : x;
    code[i] = static_cast<std::uint16_t>((((x + kOne) * a + (kOne >> 1)) >> 24) >> shift);
  }
}

void QuantisePlain(const Q24* s, Q24 f, std::int64_t a, int shift, std::uint16_t* code) { QuantiseBody(s, f, a, shift, code); }

#if KELVOR_MPEGENC_AVX2
__attribute__((target("avx512f,avx512dq"))) void QuantiseAvx512(const Q24* s, Q24 f, std::int64_t a, int shift,
                                                                std::uint16_t* code) {
  QuantiseBody(s, f, a, shift, code);
}

__attribute__((target("avx2"))) void QuantiseAvx2(const Q24* s, Q24 f, std::int64_t a, int shift, std::uint16_t* code) {
  QuantiseBody(s, f, a, shift, code);
}
#endif

}  // namespace

void QuantisePart(const Q24* s, Q24 f, const QuantClass& q, std::uint16_t* code, SimdLevel simd) {
  simd = UsableSimd(simd);
#if KELVOR_MPEGENC_AVX2
  if (simd == SimdLevel::kAvx512) {
    QuantiseAvx512(s, f, q.a, q.shift, code);
    return;
  }
  if (simd == SimdLevel::kAvx2) {
    QuantiseAvx2(s, f, q.a, q.shift, code);
    return;
  }
#endif
  QuantisePlain(s, f, q.a, q.shift, code);
}

std::uint32_t QuantiseSample(Q24 s, Q24 f, int c) {
  return Quantise((static_cast<std::int64_t>(s) * kOne) / f, kQuantClass[static_cast<std::size_t>(c)]);
}

void WriteFrame(const std::array<SubbandFrame, kChannels>& subbands, const ScaleChoices& scale,
                const Allocation& allocation, std::span<std::uint8_t, kFrameBytes> out) {
  BitWriter bits(out);
  for (const std::uint8_t byte : kFrameHeader) bits.put(byte, 8);
  const auto& alloc = allocation.alloc;
  for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
    for (std::size_t ch = 0; ch < kChannels; ++ch) bits.put(alloc[ch][sb], AllocationRowOf(static_cast<int>(sb)).nbal);
  }
  for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
    for (std::size_t ch = 0; ch < kChannels; ++ch) {
      if (alloc[ch][sb] != 0) bits.put(scale[ch][sb].scfsi, 2);
    }
  }
  for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
    for (std::size_t ch = 0; ch < kChannels; ++ch) {
      if (alloc[ch][sb] == 0) continue;
      const SentScaleFactors sent = SentOf(scale[ch][sb]);
      for (int i = 0; i < sent.count; ++i) bits.put(sent.index[static_cast<std::size_t>(i)], 6);
    }
  }
  // The coded subbands in bitstream order (subband, then channel), and
  // their codes, part by part (one scale factor each).
  struct Coded {
    const std::uint16_t* code;
    std::uint32_t levels;  // for grouping
    int bits;              // of a codeword, or of one code
    bool grouped;
  };
  std::array<Coded, kChannels * kCodedSubbands> coded;
  std::size_t count = 0;
  std::array<std::array<std::uint16_t, kSlots>, kChannels * kCodedSubbands> codes;
  for (std::size_t sb = 0; sb < kCodedSubbands; ++sb) {
    for (std::size_t ch = 0; ch < kChannels; ++ch) {
      if (alloc[ch][sb] == 0) continue;
      const QuantClass& q = kQuantClass[static_cast<std::size_t>(AllocationRowOf(static_cast<int>(sb)).classOf[alloc[ch][sb]])];
      std::array<Q24, kSlots> samples;
      for (std::size_t t = 0; t < kSlots; ++t) samples[t] = subbands[ch][t][sb];
      for (std::size_t part = 0; part < 3; ++part) {
        QuantisePart(&samples[12 * part], kScaleFactor[scale[ch][sb].used[part]], q, &codes[count][12 * part]);
      }
      coded[count] = {codes[count].data(), static_cast<std::uint32_t>(q.levels), q.codeBits, q.grouped};
      ++count;
    }
  }
  for (std::size_t t0 = 0; t0 < kSlots; t0 += 3) {  // parts, then granules of three samples
    for (std::size_t n = 0; n < count; ++n) {
      const Coded& c = coded[n];
      const std::uint16_t* code = c.code + t0;
      if (c.grouped) {
        bits.put(code[0] + c.levels * (code[1] + c.levels * code[2]), c.bits);
      } else if (3 * c.bits <= 32) {  // three codes in one go
        bits.put((static_cast<std::uint32_t>(code[0]) << (2 * c.bits)) | (static_cast<std::uint32_t>(code[1]) << c.bits) | code[2],
                 3 * c.bits);
      } else {
        for (int i = 0; i < 3; ++i) bits.put(code[i], c.bits);
      }
    }
  }
  bits.finish();
}

}  // namespace kelvor::mpegenc
