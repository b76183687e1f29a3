// Damaged input never crashes the decoder, never makes it read or write out
// of bounds (the sanitizer build runs this), and a frame whose CRC no longer
// matches is always rejected.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "ac3_test_support.h"
#include "ac3dec/crc16.h"
#include "ac3dec/frame_header.h"
#include "frame_builder.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

struct Sample {
  std::vector<std::uint8_t> bytes;
  bool eac3;
  unsigned blocks;
};

// Frames of every kind the decoder meets: real encoders' and synthetic ones
// with the E-AC-3 coding tools.
std::vector<Sample> Corpus() {
  std::vector<Sample> corpus;
  auto decoder = std::make_unique<Ac3Decoder>();
  std::vector<Q24> l(Ac3Decoder::kMaxSamples);
  std::vector<Q24> r(Ac3Decoder::kMaxSamples);
  const auto add_stream = [&](const std::filesystem::path& path, std::size_t limit) {
    if (path.empty() || !std::filesystem::exists(path)) return;
    const auto bytes = test::ReadFile(path);
    const auto frames = test::SplitFrames(bytes);
    for (std::size_t i = 0; i < frames.size() && i < limit; ++i) {
      const auto& f = frames[i];
      std::vector<std::uint8_t> frame(bytes.begin() + static_cast<std::ptrdiff_t>(f.offset),
                                      bytes.begin() + static_cast<std::ptrdiff_t>(f.offset + f.length));
      const unsigned blocks = decoder->ac3_decode_frame(0, frame, f.eac3, l, r);
      corpus.push_back({std::move(frame), f.eac3, blocks});
    }
  };
  for (const char* name : {"ac3_stereo_tone_192k.ac3", "ac3_51_tone_448k.ac3", "eac3_51_tone_640k.eac3",
                           "eac3_stereo_tone_192k.eac3", "ac3_mono_tone_96k.ac3"})
    add_stream(test::Fixture(name), 6);
  for (const char* name : {"sample.ac3", "sample.eac3", "sample_eac3joc.ec3"}) add_stream(test::PublicSample(name), 6);
  test::SyntheticRecipe recipe;
  for (int variant = 0; variant < 6; ++variant) {
    recipe = {};
    recipe.seed = static_cast<std::uint32_t>(variant + 1);
    recipe.aht = variant == 0 || variant == 1;
    recipe.gaqmod = variant;
    recipe.spx = variant == 2 || variant == 3;
    recipe.spx_atten = variant == 3;
    recipe.coupling = variant == 4;
    recipe.num_blocks = variant == 5 ? 2 : 6;
    if (recipe.aht) {
      recipe.csnroffst = 38;
      recipe.fsnroffst = 8;
      recipe.floorcod = 0;
    }
    corpus.push_back({test::BuildFrame(recipe).bytes, true, static_cast<unsigned>(recipe.num_blocks)});
  }
  return corpus;
}

class Robustness : public ::testing::Test {
 protected:
  void SetUp() override { corpus = Corpus(); ASSERT_GT(corpus.size(), 20u); }

  unsigned Decode(std::span<const std::uint8_t> frame, bool eac3) {
    return decoder->ac3_decode_frame(stream++ % 4, frame, eac3, left, right);
  }

  std::vector<Sample> corpus;
  std::unique_ptr<Ac3Decoder> decoder = std::make_unique<Ac3Decoder>();
  std::vector<Q24> left = std::vector<Q24>(Ac3Decoder::kMaxSamples);
  std::vector<Q24> right = std::vector<Q24>(Ac3Decoder::kMaxSamples);
  unsigned stream = 0;
  std::mt19937 rng{20240601};
};

TEST_F(Robustness, CorpusDecodes) {
  for (const Sample& s : corpus) {
    EXPECT_GT(s.blocks, 0u);
    EXPECT_EQ(Decode(s.bytes, s.eac3), s.blocks);
  }
}

TEST_F(Robustness, EveryBitFlipBehindTheSyncWordIsRejected) {
  int flips = 0;
  for (const Sample& s : corpus) {
    for (int n = 0; n < 200; ++n) {
      auto damaged = s.bytes;
      const std::size_t bit = 16 + rng() % (8 * damaged.size() - 16);
      damaged[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
      ASSERT_EQ(Decode(damaged, s.eac3), 0u) << "bit " << bit;
      ++flips;
    }
  }
  EXPECT_GT(flips, 4000);
}

// With the CRCs rewritten the damage reaches every parser; frames may then
// decode or be rejected, but nothing breaks.
TEST_F(Robustness, BitFlippedFramesWithValidCrcs) {
  int rejected = 0;
  int decoded = 0;
  for (int round = 0; round < 3000; ++round) {
    const Sample& s = corpus[rng() % corpus.size()];
    auto damaged = s.bytes;
    const int flips = 1 + static_cast<int>(rng() % 8);
    for (int k = 0; k < flips; ++k) {
      const std::size_t bit = 40 + rng() % (8 * damaged.size() - 56);  // keep sync, CRC1 and frame size
      damaged[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
    }
    ac3_set_frame_crcs(damaged, s.eac3);
    const unsigned blocks = Decode(damaged, s.eac3);
    if (blocks == 0) {
      ++rejected;
    } else {
      ++decoded;
      EXPECT_TRUE(blocks == 1 || blocks == 2 || blocks == 3 || blocks == 6);
    }
  }
  EXPECT_GT(rejected, 100);  // the syntax checks do fire
  EXPECT_GT(decoded, 100);
  // Decoding goes on normally afterwards.
  EXPECT_EQ(Decode(corpus[0].bytes, corpus[0].eac3), corpus[0].blocks);
}

TEST_F(Robustness, RandomPayloadsBehindValidHeaders) {
  for (int round = 0; round < 2000; ++round) {
    const Sample& s = corpus[rng() % corpus.size()];
    auto junk = s.bytes;
    const std::size_t keep = 8 + rng() % 24;  // header bytes kept
    for (std::size_t i = keep; i < junk.size(); ++i) junk[i] = static_cast<std::uint8_t>(rng());
    if (round % 3 == 0) std::fill(junk.begin() + static_cast<std::ptrdiff_t>(keep), junk.end(), round % 2 ? 0xFF : 0x00);
    ac3_set_frame_crcs(junk, s.eac3);
    ASSERT_TRUE(ac3::check_syncframe(junk, s.eac3));
    Decode(junk, s.eac3);
  }
}

TEST_F(Robustness, TruncatedAndOverlongFramesAreRejected) {
  for (const Sample& s : corpus) {
    for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{6}, std::size_t{7}, s.bytes.size() / 2,
                               s.bytes.size() - 1}) {
      EXPECT_EQ(Decode(std::span(s.bytes).first(length), s.eac3), 0u) << length;
    }
    auto longer = s.bytes;
    longer.insert(longer.end(), 64, 0);
    EXPECT_EQ(Decode(longer, s.eac3), 0u);
  }
}

TEST(FrameCrcs, WrittenCrcsPassTheFrameCheck) {
  test::SyntheticRecipe recipe;
  recipe.eac3 = false;
  auto frame = test::BuildFrame(recipe).bytes;
  ASSERT_TRUE(ac3::check_syncframe(frame, false));
  frame[40] ^= 0x01;  // inside the first 5/8: crc1 must be solved again
  frame[frame.size() - 40] ^= 0x01;
  EXPECT_FALSE(ac3::check_syncframe(frame, false));
  ac3_set_frame_crcs(frame, false);
  EXPECT_TRUE(ac3::check_syncframe(frame, false));
  const std::size_t p = 2 * (frame.size() / 4 + frame.size() / 16);
  EXPECT_EQ(ac3_crc16(std::span(frame).subspan(2, p - 2)), 0);
}

}  // namespace
}  // namespace kelvor
