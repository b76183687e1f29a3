// The transcoder frame by frame: synthetic E-AC-3 frames with the coding
// tools no available encoder writes, the real one-block sample, bad input,
// and how blocks of short frames and of several streams are kept.
#include "transcode/eac3_transcoder.h"

#include <gtest/gtest.h>

#include <memory>

#include "ac3_test_support.h"
#include "ac3dec/frame_header.h"
#include "ac3dec/tables.h"
#include "transcode/ac3_frame_writer.h"
#include "transcode/transcode_pipeline.h"
#include "frame_builder.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::Fault;
using test::SyntheticRecipe;

constexpr unsigned kBsid = 8;

// A public sample stream, from a checkout or from a worktree beside it.
Bytes Sample(const std::string& name) {
  std::filesystem::path p = test::PublicSample(name);
  if (p.empty()) p = std::filesystem::path(KELVOR_SOURCE_DIR) / "../../shared/samples/public" / name;
  return test::ReadFile(p);
}

Bytes Build(SyntheticRecipe r, std::uint32_t seed) {
  r.seed = seed;
  return test::BuildFrame(r).bytes;
}

struct Transcoded {
  Bytes es;  // the AC-3 frames, back to back
  std::vector<std::size_t> sizes;
};

Transcoded TranscodeAll(Eac3Transcoder& tc, const std::vector<Bytes>& frames, unsigned stream = 0) {
  Transcoded t;
  std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes> out{};
  for (const Bytes& f : frames) {
    std::size_t n = 0;
    if (tc.transcode_eac3_frame(stream, f, out, n)) {
      t.es.insert(t.es.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
      t.sizes.push_back(n);
    }
  }
  return t;
}

// Every frame verifies (crc1 over the first 5/8, crc2 over the rest) and
// carries bsid 8.
void ExpectValidAc3(const Transcoded& t) {
  std::size_t at = 0;
  for (const std::size_t n : t.sizes) {
    const auto frame = std::span<const std::uint8_t>(t.es).subspan(at, n);
    EXPECT_TRUE(ac3::check_syncframe(frame, false));
    EXPECT_EQ(frame[5] >> 3, kBsid);
    at += n;
  }
}

test::StereoPcm DecodeFrames(const std::vector<Bytes>& frames) {
  auto decoder = std::make_unique<Ac3Decoder>();
  Bytes es;
  for (const Bytes& f : frames) es.insert(es.end(), f.begin(), f.end());
  return test::DecodeStream(es, *decoder);
}

struct ToolCase {
  const char* name;
  SyntheticRecipe recipe;
  double min_snr_db;  // the decoded output against the decoded input
};

std::vector<ToolCase> ToolCases() {
  std::vector<ToolCase> all;
  const auto add = [&](const char* name, double snr, auto&& edit) {
    SyntheticRecipe r;
    edit(r);
    all.push_back({name, r, snr});
  };
  add("stereo", 40, [](SyntheticRecipe&) {});
  // Random coupling and extension coordinates push some coefficients past
  // full scale, which AC-3 mantissas cannot carry: those cases have lower bars.
  add("coupling_phase_flags", 10, [](SyntheticRecipe& r) { r.coupling = true; r.phase_flags = true; });
  add("five_channels_short_blocks_new_exponents", 30, [](SyntheticRecipe& r) {
    r.acmod = 7; r.blksw = true; r.new_exponents = true; });
  add("delta_allocation_skip_fast_gains", 40, [](SyntheticRecipe& r) {
    r.delta_alloc = true; r.skip_field = true; r.fast_gain_change = true; });
  add("spectral_extension_attenuation", 3, [](SyntheticRecipe& r) { r.spx = true; r.spx_atten = true; r.acmod = 3; });
  // Bins without bits take the transcoder's own dither, unlike the decoder's.
  add("hybrid_transform_gain_triplets", 6, [](SyntheticRecipe& r) { r.aht = true; r.gaqmod = 3; });
  add("hybrid_transform_coupling", 6, [](SyntheticRecipe& r) { r.aht = true; r.gaqmod = 2; r.coupling = true; });
  add("one_block_mono", 40, [](SyntheticRecipe& r) { r.num_blocks = 1; r.acmod = 1; });
  add("dual_mono", 40, [](SyntheticRecipe& r) { r.acmod = 0; });
  add("two_blocks", 40, [](SyntheticRecipe& r) { r.num_blocks = 2; });
  add("three_blocks_five_channels", 30, [](SyntheticRecipe& r) { r.num_blocks = 3; r.acmod = 7; r.blksw = true; });
  return all;
}

class TranscoderTools : public testing::TestWithParam<ToolCase> {};

TEST_P(TranscoderTools, OutputVerifiesAndDecodesToTheInputsSound) {
  const ToolCase& c = GetParam();
  std::vector<Bytes> frames;
  for (std::uint32_t seed = 1; frames.size() * static_cast<std::size_t>(c.recipe.num_blocks) < 24; ++seed) {
    frames.push_back(Build(c.recipe, seed));
    ASSERT_FALSE(frames.back().empty());
  }
  auto tc = std::make_unique<Eac3Transcoder>();
  const Transcoded t = TranscodeAll(*tc, frames);
  ASSERT_EQ(t.sizes.size(), 4u);
  ExpectValidAc3(t);
  // At least twice the input's bytes per six blocks, from the size table.
  const std::size_t per_six = frames[0].size() * 6 / static_cast<std::size_t>(c.recipe.num_blocks);
  EXPECT_GE(t.sizes[0], std::min<std::size_t>(2 * per_six, 2560));
  auto decoder = std::make_unique<Ac3Decoder>();
  int rejected = 0;
  const test::StereoPcm ours = test::DecodeStream(t.es, *decoder, &rejected);
  EXPECT_EQ(rejected, 0);
  const test::StereoPcm input = DecodeFrames(frames);
  ASSERT_EQ(ours.size(), input.size());
  EXPECT_GT(test::SnrDb(ours, input), c.min_snr_db);
}

INSTANTIATE_TEST_SUITE_P(Synthetic, TranscoderTools, testing::ValuesIn(ToolCases()),
                         [](const testing::TestParamInfo<ToolCase>& p) { return std::string(p.param.name); });

TEST(Transcoder, OutputFrameSizeFollowsTheInputsBytesPerSixBlocks) {
  struct Case {
    std::uint32_t input_bytes;
    std::size_t output_bytes;
  };
  for (const Case c : {Case{512, 1024}, Case{513, 1280}, Case{128, 256}, Case{1280, 2560}, Case{4000, 2560}}) {
    EXPECT_EQ(2u * ac3::kFrameSizeWords48[transcode::output_size_index(c.input_bytes)], c.output_bytes)
        << c.input_bytes;
  }
}

// The public one-block stream: six frames make one AC-3 frame, and the
// output frame starts five blocks before the frame that completed it.
TEST(Transcoder, OneBlockFramesCollectSixToAFrame) {
  const Bytes es = Sample("sample.eac3");
  const auto refs = test::SplitFrames(es);
  if (refs.size() < 12) GTEST_SKIP() << "public sample.eac3 not found";
  auto tc = std::make_unique<Eac3Transcoder>();
  std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes> out{};
  for (std::size_t i = 0; i < 12; ++i) {
    std::size_t n = 0;
    const bool done = tc->transcode_eac3_frame(0, std::span<const std::uint8_t>(es).subspan(refs[i].offset, refs[i].length), out, n);
    EXPECT_EQ(done, i % 6 == 5) << i;
    EXPECT_EQ(tc->stored_blocks(0), (i + 1) % 6);
    if (!done) continue;
    EXPECT_EQ(tc->lead_blocks(), 5u);
    EXPECT_EQ(n, 2560u);
    EXPECT_TRUE(ac3::check_syncframe(std::span<const std::uint8_t>(out).first(n), false));
    EXPECT_EQ((out[6] >> 5), 7u);  // acmod 3/2, as the input
  }
}

TEST(Transcoder, RejectedFramesLeaveTheStoreAsItWas) {
  SyntheticRecipe r;
  r.num_blocks = 2;
  r.csnroffst = 8;  // coarse: many grouped mantissas, whose codes have unused values
  const Bytes good = Build(r, 1);
  auto tc = std::make_unique<Eac3Transcoder>();
  std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes> out{};
  std::size_t n = 0;
  ASSERT_FALSE(tc->transcode_eac3_frame(0, good, out, n));
  ASSERT_EQ(tc->stored_blocks(0), 2u);
  // A flipped bit anywhere fails the frame's CRC.
  for (const std::size_t bit : {std::size_t{16}, std::size_t{100}, 8 * good.size() / 2, 8 * good.size() - 1}) {
    Bytes bad = good;
    bad[bit / 8] ^= static_cast<std::uint8_t>(0x80u >> (bit % 8));
    EXPECT_FALSE(tc->transcode_eac3_frame(0, bad, out, n)) << bit;
    EXPECT_EQ(tc->stored_blocks(0), 2u) << bit;
  }
  // Damage in the last block's mantissas, under a repaired CRC: a frame
  // rejected there takes its first block back out of the store.
  int rejected = 0;
  for (std::size_t back = 3; back < 40; ++back) {
    Bytes bad = good;
    bad[bad.size() - back] = 0xFF;
    test::RepairCrc(bad, true);
    if (tc->transcode_eac3_frame(0, bad, out, n)) continue;
    ++rejected;
    EXPECT_EQ(tc->stored_blocks(0), tc->stored_blocks(0) % 2 == 0 ? tc->stored_blocks(0) : 99u) << back;
  }
  EXPECT_GT(rejected, 0);
  EXPECT_FALSE(tc->transcode_eac3_frame(0, std::span<const std::uint8_t>(good).first(7), out, n));
  EXPECT_FALSE(tc->transcode_eac3_frame(4, good, out, n));
}

// Silence in place of a lost one-block frame completes the set on time.
TEST(Transcoder, SilentBlocksFillTheSetOfALostFrame) {
  SyntheticRecipe r;
  r.num_blocks = 1;
  r.acmod = 7;
  auto tc = std::make_unique<Eac3Transcoder>();
  std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes> out{};
  std::size_t n = 0;
  EXPECT_FALSE(tc->transcode_silent_blocks(0, 1, out, n));  // nothing to take a layout from yet
  EXPECT_EQ(tc->stored_blocks(0), 0u);
  for (std::uint32_t seed = 1; seed <= 4; ++seed) ASSERT_FALSE(tc->transcode_eac3_frame(0, Build(r, seed), out, n));
  EXPECT_FALSE(tc->transcode_silent_blocks(0, 1, out, n));
  ASSERT_TRUE(tc->transcode_eac3_frame(0, Build(r, 5), out, n));
  EXPECT_TRUE(ac3::check_syncframe(std::span<const std::uint8_t>(out).first(n), false));
  EXPECT_EQ(out[6] >> 5, 7u);
  // A six-block gap completes this set and leaves five silent blocks.
  ASSERT_FALSE(tc->transcode_eac3_frame(0, Build(r, 6), out, n));
  EXPECT_TRUE(tc->transcode_silent_blocks(0, 6, out, n));
  EXPECT_EQ(tc->lead_blocks(), 1u);
  EXPECT_EQ(tc->stored_blocks(0), 1u);
}

TEST(Transcoder, StreamsKeepTheirOwnBlocks) {
  SyntheticRecipe a;
  a.num_blocks = 3;
  SyntheticRecipe b;
  b.acmod = 7;
  b.num_blocks = 1;
  std::vector<Bytes> frames_a;
  for (std::uint32_t seed = 1; seed <= 4; ++seed) frames_a.push_back(Build(a, seed));
  auto alone = std::make_unique<Eac3Transcoder>();
  const Transcoded reference = TranscodeAll(*alone, frames_a);

  auto mixed = std::make_unique<Eac3Transcoder>();
  Transcoded t;
  std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes> out{};
  std::size_t n = 0;
  std::uint32_t seed = 10;
  for (const Bytes& f : frames_a) {
    (void)mixed->transcode_eac3_frame(2, Build(b, seed++), out, n);
    if (mixed->transcode_eac3_frame(0, f, out, n)) t.es.insert(t.es.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
  }
  EXPECT_EQ(mixed->stored_blocks(2), 4u);
  // Only the dither differs between the two runs (stream 2 draws from the
  // same generator), and these frames have none.
  EXPECT_EQ(t.es, reference.es);
}

// The channel layout of a set of blocks from frames that differ: the
// smallest acmod, and an LFE only when every block has one.
TEST(Transcoder, MixedBlocksTakeTheSmallestLayout) {
  const Bytes es = Sample("sample.eac3");  // 3/2 with LFE, one block a frame
  const auto refs = test::SplitFrames(es);
  if (refs.size() < 6) GTEST_SKIP() << "public sample.eac3 not found";
  const auto sample = [&](std::size_t i) {
    return Bytes(es.begin() + static_cast<std::ptrdiff_t>(refs[i].offset),
                 es.begin() + static_cast<std::ptrdiff_t>(refs[i].offset + refs[i].length));
  };
  SyntheticRecipe stereo;
  stereo.num_blocks = 1;
  struct Case {
    int synthetic_blocks;  // stereo blocks among the six
    unsigned acmod;
    bool lfe;
  };
  for (const Case c : {Case{0, 7, true}, Case{1, 2, false}, Case{5, 2, false}}) {
    std::vector<Bytes> frames;
    for (int i = 0; i < 6; ++i) frames.push_back(i < c.synthetic_blocks ? Build(stereo, 1u + static_cast<unsigned>(i)) : sample(static_cast<std::size_t>(i)));
    auto tc = std::make_unique<Eac3Transcoder>();
    const Transcoded t = TranscodeAll(*tc, frames);
    ASSERT_EQ(t.sizes.size(), 1u);
    ExpectValidAc3(t);
    BitReader br(std::span<const std::uint8_t>(t.es).subspan(6));
    const unsigned acmod = br.read_bits(3);
    EXPECT_EQ(acmod, c.acmod);
    if ((acmod & 1) && acmod != 1) br.read_bits(2);
    if (acmod & 4) br.read_bits(2);
    if (acmod == 2) br.read_bits(2);
    EXPECT_EQ(br.read_bits(1) != 0, c.lfe);
  }
}

// The two-thread pipeline gives the one-call transcoder's frames, store and
// lead blocks, also where a set completes inside a frame that is then
// rejected, or a frame fails its CRC or its mantissas.
TEST(Transcoder, PipelineMatchesTheOneCallTranscoder) {
  std::vector<Bytes> frames;
  const unsigned counts[] = {3, 2, 2, 1, 6, 2, 2, 3, 2, 1};
  for (std::uint32_t i = 0; i < 60; ++i) {
    SyntheticRecipe r;
    r.num_blocks = static_cast<int>(counts[i % 10]);
    r.csnroffst = 8;
    const bool damaged = counts[i % 10] == 2 && i % 3 == 2;
    Bytes f = Build(r, damaged ? 1 : i + 1);
    if (damaged) {
      // A byte changed under a repaired CRC so that the frame, read after
      // five stored blocks, completes a set in its first block and is
      // rejected in its second.
      SyntheticRecipe lead = r;
      lead.num_blocks = 3;
      const Bytes three = Build(lead, 101);
      const Bytes two = Build(r, 102);
      bool found = false;
      for (std::size_t at = 8; at + 2 < f.size() && !found; ++at) {
        for (const std::uint8_t x : {std::uint8_t{0xFF}, std::uint8_t{0x5A}, std::uint8_t{0x81}}) {
          Bytes bad = f;
          bad[at] ^= x;
          test::RepairCrc(bad, true);
          auto probe = std::make_unique<Eac3Transcoder>();
          std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes> out{};
          std::size_t n = 0;
          (void)probe->transcode_eac3_frame(0, three, out, n);
          (void)probe->transcode_eac3_frame(0, two, out, n);
          if (probe->transcode_eac3_frame(0, bad, out, n) && probe->stored_blocks(0) == 0) {
            f = std::move(bad);
            found = true;
            break;
          }
        }
      }
      ASSERT_TRUE(found);
    } else if (i % 11 == 5) {
      f[f.size() / 2] ^= 0x10;  // fails the CRC
    }
    frames.push_back(std::move(f));
  }
  struct Step {
    bool done = false;
    Bytes out;
    unsigned stored = 0;
    unsigned lead = 0;
    bool operator==(const Step&) const = default;
  };
  std::array<std::uint8_t, Eac3Transcoder::kMaxOutputBytes> out{};
  const auto step = [&](Eac3Transcoder& tc, bool done, std::size_t n) {
    Step s{done, {}, tc.stored_blocks(0), done ? tc.lead_blocks() : 0};
    if (done) s.out.assign(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(n));
    return s;
  };
  auto one = std::make_unique<Eac3Transcoder>();
  std::vector<Step> expected;
  for (const Bytes& f : frames) {
    std::size_t n = 0;
    const bool done = one->transcode_eac3_frame(0, f, out, n);
    expected.push_back(step(*one, done, n));
  }
  auto two = std::make_unique<Eac3Transcoder>();
  std::vector<Step> got;
  {
    Eac3TranscodePipeline pipeline(*two, [&](const transcode::DecodedFrame& d, unsigned) {
      std::size_t n = 0;
      const bool done = two->store_decoded_frame(0, d, out, n);
      got.push_back(step(*two, done, n));
    });
    for (const Bytes& f : frames) pipeline.push(f, 0);
  }
  ASSERT_EQ(got.size(), expected.size());
  int rejected = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_TRUE(got[i] == expected[i]) << i;
    const unsigned before = i == 0 ? 0 : expected[i - 1].stored;
    rejected += !expected[i].done && expected[i].stored == before && counts[i % 10] != 6 ? 1 : 0;
  }
  EXPECT_GT(rejected, 3);
}

}  // namespace
}  // namespace kelvor
