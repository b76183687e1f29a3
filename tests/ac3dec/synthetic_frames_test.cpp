// Frames written with chosen coding tools (frame_builder.h): decoded here and
// by ffmpeg, and each syntax fault planted on its own. Dither is off and
// spectral extension blends no noise, so apart from hybrid-transform bins
// without bits the two decoders must agree to the precision of their
// arithmetic.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <cstdio>
#include <memory>

#include "ac3_test_support.h"
#include "frame_builder.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

using test::Fault;
using test::SyntheticRecipe;

struct NamedSpec {
  const char* name;
  SyntheticRecipe recipe;
};

SyntheticRecipe Eac3(int blocks = 6) {
  SyntheticRecipe s;
  s.num_blocks = blocks;
  return s;
}

SyntheticRecipe Ac3() {
  SyntheticRecipe s;
  s.eac3 = false;
  return s;
}

std::vector<NamedSpec> Configurations() {
  std::vector<NamedSpec> all;
  const auto add = [&](const char* name, SyntheticRecipe s) { all.push_back({name, s}); };
  {
    SyntheticRecipe s = Eac3(1);
    s.acmod = 1;
    add("eac3_one_block_mono", s);
  }
  add("eac3_two_blocks", Eac3(2));
  {
    SyntheticRecipe s = Eac3(3);
    s.blksw = true;
    s.acmod = 7;
    add("eac3_three_blocks_3f2r_short", s);
  }
  {
    SyntheticRecipe s = Eac3();
    s.blksw = true;
    s.new_exponents = true;
    s.delta_alloc = true;
    s.skip_field = true;
    add("eac3_short_blocks_delta_skip", s);
  }
  {
    SyntheticRecipe s = Eac3();
    s.fast_gain_change = true;
    add("eac3_fast_gain_change", s);
  }
  {
    SyntheticRecipe s = Eac3();
    s.coupling = true;
    s.phase_flags = true;
    add("eac3_coupling_phase_flags", s);
  }
  for (int gaqmod = 0; gaqmod < 4; ++gaqmod) {
    SyntheticRecipe s = Eac3();
    s.aht = true;
    s.gaqmod = gaqmod;
    s.csnroffst = 38;
    s.fsnroffst = 8;
    s.floorcod = 0;
    static const char* names[] = {"eac3_aht_gaq0", "eac3_aht_gaq1", "eac3_aht_gaq2", "eac3_aht_gaq3"};
    add(names[gaqmod], s);
  }
  {
    SyntheticRecipe s = Eac3();
    s.aht = true;
    s.coupling = true;
    s.gaqmod = 2;
    s.csnroffst = 38;
    s.fsnroffst = 8;
    s.floorcod = 0;
    add("eac3_aht_coupling", s);
  }
  {
    SyntheticRecipe s = Eac3();
    s.spx = true;
    add("eac3_spx", s);
    s.spx_atten = true;
    add("eac3_spx_attenuation", s);
    s.acmod = 1;
    add("eac3_spx_mono", s);
  }
  {
    SyntheticRecipe s = Ac3();
    s.coupling = true;
    s.phase_flags = true;
    add("ac3_coupling_phase_flags", s);
  }
  {
    // Delta allocation without coupling: for the coupling channel ffmpeg
    // counts segment bands from the channel's first band, where the
    // standard's procedure starts every channel at band 0.
    SyntheticRecipe s = Ac3();
    s.delta_alloc = true;
    s.new_exponents = true;
    add("ac3_delta_allocation", s);
  }
  {
    SyntheticRecipe s = Ac3();
    s.acmod = 7;
    s.coupling = true;
    s.blksw = true;
    s.new_exponents = true;
    add("ac3_3f2r_coupling_short", s);
  }
  return all;
}

// A stream of frames of one configuration with different seeds.
std::vector<std::uint8_t> Stream(SyntheticRecipe recipe, int frames) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < frames; ++i) {
    recipe.seed = static_cast<std::uint32_t>(1000 + i);
    const auto frame = test::BuildFrame(recipe).bytes;
    EXPECT_FALSE(frame.empty()) << "frame " << i << " did not fit";
    out.insert(out.end(), frame.begin(), frame.end());
  }
  return out;
}

class SyntheticFrames : public ::testing::TestWithParam<NamedSpec> {};

TEST_P(SyntheticFrames, DecodeLikeFfmpeg) {
  const NamedSpec& c = GetParam();
  const auto stream = Stream(c.recipe, 12);
  const auto path = test::TempDir() / (std::string(c.name) + (c.recipe.eac3 ? ".eac3" : ".ac3"));
  test::WriteFile(path, stream);

  auto decoder = std::make_unique<Ac3Decoder>();
  int rejected = 0;
  const test::StereoPcm ours = test::DecodeStream(stream, *decoder, &rejected);
  EXPECT_EQ(rejected, 0);
  const auto reference = test::FfmpegFolded(path);
  const auto other_noise = test::FfmpegFolded(path, "-cons_noisegen 1");
  ASSERT_TRUE(reference && other_noise);
  EXPECT_EQ(ours.size(), reference->size());
  // Only hybrid-transform bins without bits carry dither; elsewhere the
  // ceiling is the decoders' arithmetic (see peer_comparison_test.cpp).
  const double snr = test::SnrDb(ours, *reference);
  const double ceiling = test::SnrDb(*other_noise, *reference);
  std::printf("  %-32s %6.2f dB, ceiling %6.2f dB\n", c.name, snr, ceiling);
  EXPECT_GE(snr, std::min(ceiling, 97.0) - 2.0);

  const Ac3ToolUsage& u = decoder->tool_usage();
  if (c.recipe.aht) {
    const unsigned channels = (c.recipe.acmod == 1 ? 1u : 2u) + (c.recipe.coupling ? 1u : 0u);
    EXPECT_EQ(u.aht_channel_frames, 12u * channels);
  }
  if (c.recipe.spx) {
    EXPECT_EQ(u.spx_blocks, 72u);
  }
  if (c.recipe.blksw) {
    EXPECT_GT(u.short_block_blocks, 0u);
  }
  if (c.recipe.phase_flags) {
    EXPECT_GT(u.phase_flag_blocks, 0u);
  }
  if (c.recipe.delta_alloc) {
    EXPECT_GT(u.delta_alloc_blocks, 0u);
  }
  if (c.recipe.eac3) {
    EXPECT_EQ(u.eac3_frames_by_blocks[static_cast<std::size_t>(c.recipe.num_blocks)], 12u);
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, SyntheticFrames, ::testing::ValuesIn(Configurations()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(SyntheticHybridTransform, FramesReachEveryQuantiser) {
  // The VQ codebooks (hebap 1..7), the scalar quantisers with and without
  // gain (8..19) and the escapes: over the frames of all four gain modes.
  std::array<int, 20> bins{};
  int escapes = 0;
  for (int gaqmod = 0; gaqmod < 4; ++gaqmod) {
    for (int i = 0; i < 12; ++i) {
      SyntheticRecipe s = Eac3();
      s.aht = true;
      s.gaqmod = gaqmod;
      s.csnroffst = 38;
      s.fsnroffst = 8;
      s.floorcod = 0;
      s.seed = static_cast<std::uint32_t>(1000 + i);
      const test::SyntheticFrame f = test::BuildFrame(s);
      for (std::size_t h = 0; h < bins.size(); ++h) bins[h] += f.hebap_bins[h];
      escapes += f.gaq_escapes;
    }
  }
  // Few bins fall to hebap 0 (dither, where ffmpeg's noise differs from ours).
  int total = 0;
  for (const int n : bins) total += n;
  EXPECT_LT(bins[0] * 50, total);
  int vq = 0;
  for (int h = 1; h <= 7; ++h) vq += bins[static_cast<std::size_t>(h)] > 0 ? 1 : 0;
  int scalar = 0;
  for (int h = 8; h <= 19; ++h) scalar += bins[static_cast<std::size_t>(h)] > 0 ? 1 : 0;
  EXPECT_GE(vq, 4);
  EXPECT_GE(scalar, 8);
  EXPECT_GT(escapes, 20);
}

// Energy of both channels between two frequencies (48 kHz), from 512-sample
// Hann-windowed spectra.
double BandEnergy(const test::StereoPcm& pcm, double low_hz, double high_hz) {
  constexpr std::size_t kN = 512;
  std::array<double, kN> window{};
  std::array<double, kN> cosine{};
  std::array<double, kN> sine{};
  for (std::size_t n = 0; n < kN; ++n) {
    const double phase = 2 * std::numbers::pi * static_cast<double>(n) / kN;
    window[n] = 0.5 - 0.5 * std::cos(phase);
    cosine[n] = std::cos(phase);
    sine[n] = std::sin(phase);
  }
  const auto first = static_cast<std::size_t>(low_hz * kN / 48000.0);
  const auto last = static_cast<std::size_t>(high_hz * kN / 48000.0);
  double energy = 0;
  for (const std::vector<double>* channel : {&pcm.left, &pcm.right}) {
    for (std::size_t at = 0; at + kN <= channel->size(); at += kN) {
      for (std::size_t k = first; k < last; ++k) {
        double re = 0;
        double im = 0;
        for (std::size_t n = 0; n < kN; ++n) {
          const double x = window[n] * (*channel)[at + n];
          re += x * cosine[k * n % kN];
          im -= x * sine[k * n % kN];
        }
        energy += re * re + im * im;
      }
    }
  }
  return energy;
}

// The noise that spectral extension blends in has unit variance, so a band
// keeps the energy its coordinate gives whatever the blend: with the most
// noise (spxblnd 0) the region above 9 kHz carries ffmpeg's energy. A noise
// of the generator's own variance (1/3) falls about 3 dB short here. The
// frames are decoded eight times over (the noise differs each time), as a
// few loud bands carry most of the energy.
TEST(SyntheticSpectralExtension, NoiseKeepsTheBandEnergy) {
  SyntheticRecipe s = Eac3();
  s.spx = true;
  s.spx_blend = 0;
  s.spx_master = 2;  // coordinates below 1: no sum reaches the 32-bit limit
  const auto frames = Stream(s, 24);
  std::vector<std::uint8_t> stream;
  for (int pass = 0; pass < 8; ++pass) stream.insert(stream.end(), frames.begin(), frames.end());
  const auto path = test::TempDir() / "spx_noise.eac3";
  test::WriteFile(path, stream);
  auto decoder = std::make_unique<Ac3Decoder>();
  const test::StereoPcm ours = test::DecodeStream(stream, *decoder);
  const auto reference = test::FfmpegFolded(path);
  ASSERT_TRUE(reference);
  const double db = 10 * std::log10(BandEnergy(ours, 9000, 16000) / BandEnergy(*reference, 9000, 16000));
  std::printf("  spectral extension band 9-16 kHz: %+.2f dB against ffmpeg\n", db);
  EXPECT_NEAR(db, 0.0, 0.5);
}

struct FaultCase {
  const char* name;
  SyntheticRecipe recipe;
  Fault fault;
};

class SyntheticFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(SyntheticFaults, RejectedWhileTheSoundFrameDecodes) {
  FaultCase c = GetParam();
  auto decoder = std::make_unique<Ac3Decoder>();
  std::vector<Q24> left(Ac3Decoder::kMaxSamples);
  std::vector<Q24> right(Ac3Decoder::kMaxSamples);
  const auto sound = test::BuildFrame(c.recipe).bytes;
  ASSERT_FALSE(sound.empty());
  EXPECT_GT(decoder->ac3_decode_frame(0, sound, c.recipe.eac3, left, right), 0u);
  c.recipe.fault = c.fault;
  const auto faulty = test::BuildFrame(c.recipe).bytes;
  ASSERT_FALSE(faulty.empty());
  EXPECT_EQ(decoder->ac3_decode_frame(0, faulty, c.recipe.eac3, left, right), 0u);
}

std::vector<FaultCase> FaultCases() {
  SyntheticRecipe coupled = Ac3();
  coupled.coupling = true;
  SyntheticRecipe eac3_coupled = Eac3();
  eac3_coupled.coupling = true;
  SyntheticRecipe spx = Eac3();
  spx.spx = true;
  SyntheticRecipe delta = Eac3();
  delta.delta_alloc = true;
  SyntheticRecipe coarse = Ac3();  // low offsets: grouped quantisers appear
  coarse.csnroffst = 12;
  SyntheticRecipe widest = Ac3();  // chbwcod 60 decodes, 61 is rejected
  widest.chbwcod = 60;
  SyntheticRecipe silent = Eac3();  // zero offsets: any allocation parameters code nothing
  silent.csnroffst = 0;
  silent.fsnroffst = 0;
  SyntheticRecipe aht = Eac3();
  aht.aht = true;
  aht.gaqmod = 3;
  aht.csnroffst = 38;
  aht.fsnroffst = 8;
  aht.floorcod = 0;
  return {
      {"reuse_in_block0_eac3", Eac3(), Fault::kReuseInBlock0},
      {"reuse_in_block0_ac3", Ac3(), Fault::kReuseInBlock0},
      {"chbwcod_61", widest, Fault::kChbwcodAbove60},
      {"no_baie_in_block0", silent, Fault::kNoBaieInBlock0},
      {"no_snroffste_in_block0", Ac3(), Fault::kNoSnrOffsetInBlock0},
      {"no_cplstre_in_block0", Ac3(), Fault::kNoCplstreInBlock0},
      {"no_rematstr_in_block0", Ac3(), Fault::kNoRematstrInBlock0},
      {"coupling_begins_at_its_end", coupled, Fault::kCouplingBeginAtEnd},
      {"coupling_leak_never_sent", coupled, Fault::kNoLeakInBlock0},
      {"coupling_coords_never_sent", coupled, Fault::kNoCoordsInBlock0},
      {"enhanced_coupling", eac3_coupled, Fault::kEnhancedCoupling},
      {"delta_code_3", delta, Fault::kDeltaCode3},
      {"delta_reuse_first", delta, Fault::kDeltaReuseFirst},
      {"spx_bands", spx, Fault::kBadSpxBands},
      {"spx_copy_from_begin", spx, Fault::kSpxCopyAtBegin},
      {"exponent_group_125", Ac3(), Fault::kBadExponentGroup},
      {"mantissa_code", coarse, Fault::kBadMantissaCode},
      {"gain_triplet_27", aht, Fault::kBadGainTriplet},
  };
}

INSTANTIATE_TEST_SUITE_P(Rules, SyntheticFaults, ::testing::ValuesIn(FaultCases()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(SyntheticAllocation, ZeroOffsetsCodeNothingButDither) {
  auto decoder = std::make_unique<Ac3Decoder>();
  std::vector<Q24> left(Ac3Decoder::kMaxSamples);
  std::vector<Q24> right(Ac3Decoder::kMaxSamples);
  SyntheticRecipe s = Ac3();
  s.coupling = true;
  s.csnroffst = 0;
  s.fsnroffst = 0;
  ASSERT_EQ(decoder->ac3_decode_frame(0, test::BuildFrame(s).bytes, 0, left, right), 6u);
  EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](Q24 v) { return v == 0; }));
  EXPECT_TRUE(std::all_of(right.begin(), right.end(), [](Q24 v) { return v == 0; }));
  s.dither = true;
  ASSERT_EQ(decoder->ac3_decode_frame(1, test::BuildFrame(s).bytes, 0, left, right), 6u);
  EXPECT_FALSE(std::all_of(left.begin(), left.end(), [](Q24 v) { return v == 0; }));
}

// Without dither, streams decoded in interleaved order on their own indexes
// match their separate decodes sample for sample.
TEST(SyntheticStreams, InterleavedDecodingIsExact) {
  SyntheticRecipe a = Eac3();
  SyntheticRecipe b = Ac3();
  b.acmod = 7;
  b.chbwcod = 0;
  b.csnroffst = 15;
  const auto decode = [](const std::vector<std::vector<std::uint8_t>>& frames, const std::vector<bool>& eac3,
                         const std::vector<unsigned>& index) {
    auto decoder = std::make_unique<Ac3Decoder>();
    std::vector<Q24> left(Ac3Decoder::kMaxSamples);
    std::vector<Q24> right(Ac3Decoder::kMaxSamples);
    std::vector<std::vector<Q24>> out;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(decoder->ac3_decode_frame(index[i], frames[i], eac3[i], left, right), 6u);
      out.push_back(left);
      out.push_back(right);
    }
    return out;
  };
  std::vector<std::vector<std::uint8_t>> fa;
  std::vector<std::vector<std::uint8_t>> fb;
  for (std::uint32_t i = 0; i < 4; ++i) {
    a.seed = b.seed = 50 + i;
    fa.push_back(test::BuildFrame(a).bytes);
    fb.push_back(test::BuildFrame(b).bytes);
  }
  const auto alone_a = decode(fa, std::vector<bool>(4, true), std::vector<unsigned>(4, 2));
  const auto alone_b = decode(fb, std::vector<bool>(4, false), std::vector<unsigned>(4, 0));
  std::vector<std::vector<std::uint8_t>> mixed;
  std::vector<bool> kinds;
  for (std::size_t i = 0; i < 4; ++i) {
    mixed.push_back(fb[i]);
    mixed.push_back(fa[i]);
    kinds.push_back(false);
    kinds.push_back(true);
  }
  const auto together = decode(mixed, kinds, {0, 2, 0, 2, 0, 2, 0, 2});
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(together[4 * i], alone_b[2 * i]) << i;
    EXPECT_EQ(together[4 * i + 2], alone_a[2 * i]) << i;
    EXPECT_EQ(together[4 * i + 3], alone_a[2 * i + 1]) << i;
  }
}

}  // namespace
}  // namespace kelvor
