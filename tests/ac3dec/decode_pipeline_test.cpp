// The two-thread pipeline gives exactly what one thread calling
// ac3_decode_frame gives, rejected frames included: their silence, and the
// delay lines advanced by the blocks decoded before the fault.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "ac3_test_support.h"
#include "ac3dec/decode_pipeline.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

TEST(DecodePipeline, MatchesOneCallDecodingOnADamagedStream) {
  for (const char* name : {"ac3_51_tone_448k.ac3", "eac3_51_tone_640k.eac3"}) {
    SCOPED_TRACE(name);
    auto bytes = test::ReadFile(test::Fixture(name));
    const auto frames = test::SplitFrames(bytes);
    ASSERT_GT(frames.size(), 40u);  // several turns of the ring
    // Every third frame damaged: a bit flipped anywhere (the CRC rejects
    // it), or a run of bytes in its later blocks spoiled under a valid CRC,
    // so that the parse fails after some blocks.
    std::mt19937 rng(15);
    for (std::size_t i = 1; i < frames.size(); i += 3) {
      const auto& f = frames[i];
      if (i % 2 == 0) {
        bytes[f.offset + 8 + rng() % (f.length - 10)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
        continue;
      }
      for (std::size_t k = f.length / 2 + rng() % (f.length / 4), n = 0; n < 24; ++k, ++n) bytes[f.offset + k] = static_cast<std::uint8_t>(rng());
      test::RepairCrc(std::span(bytes).subspan(f.offset, f.length), f.eac3);
    }

    std::vector<Q24> expected;
    auto single = std::make_unique<Ac3Decoder>();
    std::vector<Q24> left(Ac3Decoder::kMaxSamples);
    std::vector<Q24> right(Ac3Decoder::kMaxSamples);
    unsigned rejected = 0;
    for (const auto& f : frames) {
      const unsigned blocks = single->ac3_decode_frame(0, std::span(bytes).subspan(f.offset, f.length), f.eac3, left, right);
      rejected += blocks == 0 ? 1 : 0;
      const std::size_t n = (blocks != 0 ? blocks : 6) * Ac3Decoder::kSamplesPerBlock;
      for (std::size_t k = 0; k < n; ++k) {
        expected.push_back(blocks != 0 ? left[k] : 0);
        expected.push_back(blocks != 0 ? right[k] : 0);
      }
    }
    ASSERT_GT(rejected, 5u);

    // The path that matters most: rejections after some decoded blocks.
    auto probe = std::make_unique<Ac3Decoder>();
    std::array<Ac3BlockSpectrum, ac3::kMaxBlocks> spectra;
    unsigned partial = 0;
    for (const auto& f : frames) {
      unsigned ready = 0;
      const unsigned blocks = probe->ac3_decode_coefficients(std::span(bytes).subspan(f.offset, f.length), f.eac3, spectra, ready);
      partial += blocks == 0 && ready > 0 ? 1 : 0;
    }
    ASSERT_GT(partial, 2u);

    std::vector<Q24> actual;
    auto decoder = std::make_unique<Ac3Decoder>();
    {
      Ac3DecodePipeline pipeline(*decoder, 0, [&](std::span<const Q24> l, std::span<const Q24> r) {
        for (std::size_t k = 0; k < l.size(); ++k) {
          actual.push_back(l[k]);
          actual.push_back(r[k]);
        }
      });
      for (const auto& f : frames) {
        const unsigned blocks = pipeline.decode(std::span(bytes).subspan(f.offset, f.length), f.eac3);
        pipeline.send(blocks != 0 ? 0 : 6);
      }
    }
    EXPECT_TRUE(actual == expected);
    EXPECT_EQ(decoder->tool_usage().blocks, single->tool_usage().blocks);
  }
}

}  // namespace
}  // namespace kelvor
