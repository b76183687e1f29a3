// Frames the parser must refuse although everything else in them is well
// formed, so that the rule under test is all that stands between them and a
// decode: a rule that lets its frame through is seen as a decoded frame here,
// and as an out-of-bounds access under the sanitizers.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ac3dec/ac3_decoder.h"
#include "frame_builder.h"

namespace kelvor::test {
namespace {

struct Refused {
  const char* name;
  SyntheticRecipe sound;   // decodes
  SyntheticRecipe faulty;  // one value changed, the frame written to match it
};

std::vector<Refused> Cases() {
  SyntheticRecipe ac3;
  ac3.eac3 = false;
  SyntheticRecipe widest = ac3;
  widest.chbwcod = 60;
  widest.csnroffst = 0;  // so that 256 bins fit the frame
  widest.fsnroffst = 0;
  SyntheticRecipe too_wide = widest;  // exponents and mantissas up to bin 255
  too_wide.chbwcod = 61;
  SyntheticRecipe independent;
  SyntheticRecipe dependent;  // a substream that only adds to another
  dependent.strmtyp = 1;
  SyntheticRecipe coupled = ac3;
  coupled.coupling = true;
  SyntheticRecipe past_end = coupled;
  past_end.fault = Fault::kCouplingBeginPastEnd;
  return {
      {"channel_bandwidth_code_61", widest, too_wide},
      {"dependent_substream_alone", independent, dependent},
      {"coupling_begins_past_its_end", coupled, past_end},
  };
}

void PrintTo(const Refused& c, std::ostream* os) { *os << c.name; }

class ParserRejections : public ::testing::TestWithParam<Refused> {};

TEST_P(ParserRejections, OnlyTheRuleStopsTheFrame) {
  const Refused& c = GetParam();
  auto decoder = std::make_unique<Ac3Decoder>();
  std::vector<Q24> left(Ac3Decoder::kMaxSamples);
  std::vector<Q24> right(Ac3Decoder::kMaxSamples);
  const auto sound = BuildFrame(c.sound).bytes;
  const auto faulty = BuildFrame(c.faulty).bytes;
  ASSERT_FALSE(sound.empty());
  ASSERT_FALSE(faulty.empty());
  EXPECT_GT(decoder->ac3_decode_frame(0, sound, c.sound.eac3, left, right), 0u);
  EXPECT_EQ(decoder->ac3_decode_frame(0, faulty, c.faulty.eac3, left, right), 0u);
}

INSTANTIATE_TEST_SUITE_P(Frames, ParserRejections, ::testing::ValuesIn(Cases()),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace kelvor::test
