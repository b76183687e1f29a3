// Frame-level behaviour of the decoder: what it accepts, what it rejects,
// how many samples it writes, and what survives between frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "ac3_test_support.h"
#include "ac3dec/ac3_decoder.h"
#include "ac3dec/downmix.h"
#include "ac3dec/tables.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

using test::FrameRef;

struct Stream {
  std::vector<std::uint8_t> bytes;
  std::vector<FrameRef> frames;

  std::vector<std::uint8_t> Frame(std::size_t i) const {
    const FrameRef& f = frames.at(i);
    return {bytes.begin() + static_cast<std::ptrdiff_t>(f.offset),
            bytes.begin() + static_cast<std::ptrdiff_t>(f.offset + f.length)};
  }
};

Stream Load(const std::filesystem::path& path) {
  Stream s;
  s.bytes = test::ReadFile(path);
  s.frames = test::SplitFrames(s.bytes);
  return s;
}

class DecoderTest : public ::testing::Test {
 protected:
  unsigned Decode(std::span<const std::uint8_t> frame, bool eac3, unsigned stream = 0) {
    return decoder->ac3_decode_frame(stream, frame, eac3 ? 1 : 0, left, right);
  }

  std::unique_ptr<Ac3Decoder> decoder = std::make_unique<Ac3Decoder>();
  std::vector<Q24> left = std::vector<Q24>(Ac3Decoder::kMaxSamples);
  std::vector<Q24> right = std::vector<Q24>(Ac3Decoder::kMaxSamples);
};

TEST_F(DecoderTest, DamageAnywhereInAnAc3FrameRejectsIt) {
  const Stream s = Load(test::Fixture("ac3_stereo_tone_192k.ac3"));
  ASSERT_GT(s.frames.size(), 4u);
  auto frame = s.Frame(3);
  EXPECT_EQ(Decode(frame, false), 6u);
  const std::size_t p = 2 * (frame.size() / 4 + frame.size() / 16);
  for (const std::size_t at : {frame.size() - 1, (p + frame.size()) / 2, p, p - 1, std::size_t{6}}) {
    auto damaged = frame;
    damaged[at] ^= 0x10;
    EXPECT_EQ(Decode(damaged, false), 0u) << "byte " << at;
  }
}

TEST_F(DecoderTest, FramesOfTheWrongKindOrLengthAreRejected) {
  const Stream ac3 = Load(test::Fixture("ac3_stereo_tone_192k.ac3"));
  const Stream eac3 = Load(test::Fixture("eac3_stereo_tone_192k.eac3"));
  const auto a = ac3.Frame(1);
  const auto e = eac3.Frame(1);
  EXPECT_EQ(Decode(e, true), 6u);
  EXPECT_EQ(Decode(a, true), 0u);   // AC-3 bytes read as E-AC-3
  EXPECT_EQ(Decode(e, false), 0u);  // and the other way round
  EXPECT_EQ(Decode(std::span(a).first(a.size() - 2), false), 0u);
  auto longer = e;
  longer.push_back(0);
  EXPECT_EQ(Decode(longer, true), 0u);
  EXPECT_EQ(Decode(std::span(e).first(4), true), 0u);
  EXPECT_EQ(Decode({}, false), 0u);

  auto damaged = e;
  damaged[damaged.size() / 2] ^= 1;
  EXPECT_EQ(Decode(damaged, true), 0u);

  auto bsid9 = a;  // AC-3 syntax with a bsid above 8
  bsid9[5] = static_cast<std::uint8_t>((9 << 3) | (bsid9[5] & 7));
  test::RepairCrc(bsid9, false);
  EXPECT_EQ(Decode(bsid9, false), 0u);

  // A dependent substream never reaches the decoder; if one does, it is
  // rejected even with an intact CRC.
  auto dependent = e;
  dependent[2] = static_cast<std::uint8_t>((dependent[2] & 0x3F) | 0x40);  // strmtyp 1
  test::RepairCrc(dependent, true);
  EXPECT_EQ(Decode(dependent, true), 0u);
}

TEST_F(DecoderTest, BadArgumentsAreRejected) {
  const Stream s = Load(test::Fixture("ac3_stereo_tone_192k.ac3"));
  const auto frame = s.Frame(0);
  EXPECT_EQ(Decode(frame, false, 4), 0u);
  std::vector<Q24> small(256);
  EXPECT_EQ(decoder->ac3_decode_frame(0, frame, 0, small, right), 0u);
  EXPECT_EQ(Decode(frame, false, 3), 6u);
}

TEST_F(DecoderTest, OneBlockEac3FramesYield256Samples) {
  const auto path = test::PublicSample("sample.eac3");
  if (path.empty()) GTEST_SKIP() << "public sample missing";
  const Stream s = Load(path);
  ASSERT_FALSE(s.frames.empty());
  std::fill(left.begin(), left.end(), 0x55555555);
  std::fill(right.begin(), right.end(), 0x55555555);
  EXPECT_EQ(Decode(s.Frame(0), true), 1u);
  EXPECT_TRUE(std::all_of(left.begin() + 256, left.end(), [](Q24 v) { return v == 0x55555555; }));
  EXPECT_TRUE(std::all_of(right.begin() + 256, right.end(), [](Q24 v) { return v == 0x55555555; }));
  EXPECT_FALSE(std::all_of(left.begin(), left.begin() + 256, [](Q24 v) { return v == 0x55555555; }));
  for (std::size_t i = 1; i < s.frames.size(); ++i) EXPECT_EQ(Decode(s.Frame(i), true), 1u) << i;
}

TEST_F(DecoderTest, MonoGivesIdenticalChannels) {
  const Stream s = Load(test::Fixture("ac3_mono_tone_96k.ac3"));
  ASSERT_GT(s.frames.size(), 2u);
  double energy = 0;
  for (std::size_t i = 0; i < s.frames.size(); ++i) {
    ASSERT_EQ(Decode(s.Frame(i), false), 6u);
    EXPECT_EQ(left, right) << "frame " << i;
    for (const Q24 v : left) energy += static_cast<double>(v) * v;
  }
  EXPECT_GT(energy, 0);
}

TEST_F(DecoderTest, StartsFromSilenceAfterInit) {
  const Stream s = Load(test::Fixture("ac3_stereo_tone_448k_nocpl.ac3"));
  ASSERT_EQ(Decode(s.Frame(5), false), 6u);
  const auto first_left = left;
  ASSERT_EQ(Decode(s.Frame(5), false), 6u);
  EXPECT_NE(left, first_left);  // the second time it overlaps with the first
  decoder->ac3_decoder_init();
  ASSERT_EQ(Decode(s.Frame(5), false), 6u);
  EXPECT_EQ(left, first_left);  // delay lines cleared and dither reseeded
}

// Each stream index keeps its own overlap. Dither is shared by design, so
// interleaving changes only the dithered bins: a shared delay line would
// wreck the waveform instead.
TEST_F(DecoderTest, InterleavedStreamsKeepTheirOwnDelayLines) {
  const Stream a = Load(test::Fixture("ac3_stereo_tone_448k_nocpl.ac3"));
  const Stream b = Load(test::Fixture("ac3_51_tone_448k.ac3"));
  const std::size_t n = std::min(a.frames.size(), b.frames.size());
  const auto decode_a = [&](bool interleave, unsigned b_stream) {
    decoder->ac3_decoder_init();
    test::StereoPcm pcm;
    for (std::size_t i = 0; i < n; ++i) {
      if (interleave) {
        EXPECT_EQ(Decode(b.Frame(i), false, b_stream), 6u);
      }
      EXPECT_EQ(Decode(a.Frame(i), false, 1), 6u);
      for (std::size_t k = 0; k < Ac3Decoder::kMaxSamples; ++k) {
        pcm.left.push_back(left[k]);
        pcm.right.push_back(right[k]);
      }
    }
    return pcm;
  };
  const test::StereoPcm alone = decode_a(false, 0);
  EXPECT_GT(test::SnrDb(decode_a(true, 3), alone), 70.0);
  EXPECT_LT(test::SnrDb(decode_a(true, 1), alone), 20.0);  // sharing index 1 would look like this
}

TEST(FoldToStereo, GainsOfEveryLayout) {
  std::array<Q24, 256> l{};
  std::array<Q24, 256> r{};
  const Q24 v = 1 << 22;  // 0.25
  const std::array<Q24, 256> same = [&] {
    std::array<Q24, 256> a{};
    a.fill(v);
    return a;
  }();
  const std::array<const Q24*, 5> five = {same.data(), same.data(), same.data(), same.data(), same.data()};

  // 3/2: left keeps 0.3204 + 0.2265 - 0.4531 of the common value, right all of it.
  ac3::fold_to_stereo(7, five, nullptr, l, r);
  EXPECT_NEAR(l[0] / static_cast<double>(v), 0.0938, 1e-3);
  EXPECT_NEAR(r[0] / static_cast<double>(v), 1.0, 1e-6);

  // With every channel equal, each layout's right side adds up to one and
  // the left side lacks twice the surround contribution.
  const double g3 = ac3::kSideOf3 / 16777216.0;
  const double g4 = ac3::kSideOf4 / 16777216.0;
  const double g5 = ac3::kSideOf5 / 16777216.0;
  const std::array<double, 8> missing = {0, 0, 0, 0, 2 * g3, 2 * g4, 4 * g4, 4 * g5};
  for (int acmod = 0; acmod < 8; ++acmod) {
    ac3::fold_to_stereo(acmod, five, nullptr, l, r);
    EXPECT_NEAR(r[5] / static_cast<double>(v), 1.0, 2e-6) << acmod;
    EXPECT_NEAR((r[5] - l[5]) / static_cast<double>(v), missing[static_cast<std::size_t>(acmod)], 2e-6) << acmod;
  }

  // Stereo passes through untouched; mono goes to both sides.
  std::array<Q24, 256> ramp{};
  for (std::size_t i = 0; i < 256; ++i) ramp[i] = static_cast<Q24>(i * 1000) - 100000;
  const std::array<const Q24*, 2> pair = {ramp.data(), same.data()};
  ac3::fold_to_stereo(2, pair, nullptr, l, r);
  EXPECT_EQ(l, ramp);
  EXPECT_EQ(r, same);
  ac3::fold_to_stereo(1, pair, nullptr, l, r);
  EXPECT_EQ(l, ramp);
  EXPECT_EQ(r, ramp);

  // A loud LFE saturates instead of wrapping.
  std::array<Q24, 256> huge{};
  huge.fill(INT32_MAX);
  const std::array<const Q24*, 2> loud = {huge.data(), huge.data()};
  ac3::fold_to_stereo(2, loud, huge.data(), l, r);
  EXPECT_EQ(l[0], INT32_MAX);
  EXPECT_EQ(r[0], INT32_MAX);
  huge.fill(INT32_MIN);
  ac3::fold_to_stereo(2, loud, huge.data(), l, r);
  EXPECT_EQ(l[0], INT32_MIN);
}

// The LFE reaches each side 10 dB below its own level. Measured end to end
// on a 5.1 stream whose only signal is a tone in the LFE, against ffmpeg's
// decode of that channel on its own (no gain of ours involved).
TEST(FoldToStereo, LfeEntersTenDecibelsBelowItsChannel) {
  const auto dir = test::TempDir();
  const auto ac3 = dir / "lfe_only.ac3";
  const auto lfe = dir / "lfe.f32";
  ASSERT_EQ(test::RunCommand("ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=50:sample_rate=48000:duration=2 "
                             "-af 'pan=5.1|LFE=c0' -c:a ac3 -b:a 448k '" + ac3.string() + "'"),
            0);
  ASSERT_EQ(test::RunCommand("ffmpeg -nostdin -v error -y -drc_scale 0 -i '" + ac3.string() +
                             "' -af 'pan=mono|c0=LFE' -f f32le '" + lfe.string() + "'"),
            0);
  const std::vector<std::uint8_t> raw = test::ReadFile(lfe);
  double lfe_energy = 0;
  for (std::size_t i = 0; i + 4 <= raw.size(); i += 4) {
    float v;
    std::memcpy(&v, raw.data() + i, 4);
    lfe_energy += static_cast<double>(v) * v;
  }
  auto decoder = std::make_unique<Ac3Decoder>();
  const test::StereoPcm ours = test::DecodeStream(test::ReadFile(ac3), *decoder);
  double left = 0;
  double right = 0;
  for (std::size_t i = 0; i < ours.size(); ++i) {
    left += ours.left[i] * ours.left[i];
    right += ours.right[i] * ours.right[i];
  }
  ASSERT_GT(lfe_energy, 0.0);
  ASSERT_EQ(ours.size(), raw.size() / 4);
  EXPECT_NEAR(10 * std::log10(left / lfe_energy), -10.0, 0.1);
  EXPECT_NEAR(10 * std::log10(right / lfe_energy), -10.0, 0.1);
}

TEST(FoldToStereo, ProcessorPathEqualsThePortableCode) {
  // Every layout, with and without LFE, from quiet values to values whose
  // sums saturate.
  std::mt19937 rng(3);
  std::array<std::array<Q24, 256>, 6> in{};
  for (int round = 0; round < 24; ++round) {
    const int bits = 20 + round % 13;
    for (auto& channel : in) {
      for (Q24& v : channel) v = static_cast<Q24>(static_cast<std::int32_t>(rng()) >> (32 - bits));
    }
    const std::array<const Q24*, 5> five = {in[0].data(), in[1].data(), in[2].data(), in[3].data(), in[4].data()};
    for (int acmod = 0; acmod < 8; ++acmod) {
      const auto n = static_cast<std::size_t>(ac3::kNfchans[static_cast<std::size_t>(acmod)]);
      for (const Q24* lfe : {static_cast<const Q24*>(nullptr), static_cast<const Q24*>(in[5].data())}) {
        std::array<Q24, 256> l{};
        std::array<Q24, 256> r{};
        std::array<Q24, 256> pl{};
        std::array<Q24, 256> pr{};
        ac3::fold_to_stereo(acmod, std::span(five).first(n), lfe, l, r);
        ac3::fold_to_stereo_portable(acmod, std::span(five).first(n), lfe, pl, pr);
        ASSERT_EQ(l, pl) << "acmod " << acmod << " round " << round;
        ASSERT_EQ(r, pr) << "acmod " << acmod << " round " << round;
      }
    }
  }
}

}  // namespace
}  // namespace kelvor
