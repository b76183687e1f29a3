// The scan over real streams: ffmpeg-made ones with known content, and
// streams from other encoders.
#include <gtest/gtest.h>

#include <regex>

#include "common/flags.h"
#include "scan/scan_pass.h"
#include "support/test_support.h"

namespace kelvor {
namespace {

struct Scanned {
  std::vector<std::string> rows;
  std::vector<std::string> messages;
  TrackTable tracks;
  ScanSummary summary;
};

Scanned ScanFile(const std::filesystem::path& path) {
  test::RecordingUiPort ui;
  InputView input(ui);
  input.setPath(path.string());
  Scanned s;
  H264IdrState idr;
  ScanPass scan(input, s.tracks, idr, ui);
  abortRequested = false;
  scan.run();
  s.rows = ui.rows();
  s.messages = ui.messages();
  s.summary = scan.summary();
  return s;
}

void ExpectRows(const std::vector<std::string>& rows, const std::vector<std::string>& patterns) {
  ASSERT_EQ(rows.size(), patterns.size()) << ::testing::PrintToString(rows);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_TRUE(std::regex_match(rows[i], std::regex(patterns[i]))) << rows[i] << " vs " << patterns[i];
  }
}

std::filesystem::path RequireFixture(const std::string& name) {
  auto path = test::Fixture(name);
  if (!std::filesystem::exists(path)) ADD_FAILURE() << "missing generated stream " << path;
  return path;
}

constexpr const char* kMp2Deu = R"(\[[0-9A-F]{4}\] MPEG L2 192Kb 48KHz Stereo \[deu\])";
constexpr const char* kAc3Eng = R"(\[[0-9A-F]{4}\] AC3 5\.1 \[eng\])";

TEST(ScanStreams, ListsMpegAudioAndAc3OfGeneratedMpeg2Streams) {
  for (const char* name : {"mpeg2_mp2_ac3.ts", "mpeg2_mp2_ac3_dvb.ts"}) {
    SCOPED_TRACE(name);
    const auto s = ScanFile(RequireFixture(name));
    ExpectRows(s.rows, {name, kMp2Deu, kAc3Eng, " All audio tracks"});
    EXPECT_EQ(s.tracks.video.codec, Codec::Mpeg2Video);
    EXPECT_GT(s.tracks.videoBitRate, 0u);
    EXPECT_EQ(s.summary.packetSize, 188u);
    EXPECT_EQ(s.tracks.trackChoiceCount, 3u);
    EXPECT_TRUE(s.messages.empty());
    // Audio and video found: the scan stops early in a long stream.
    EXPECT_LE(s.summary.bytesScanned, ScanPass::kEnoughBytes + 188);
  }
}

TEST(ScanStreams, ListsEac3AndSetsH264) {
  const auto s = ScanFile(RequireFixture("h264_eac3_mp2.ts"));
  ExpectRows(s.rows, {"h264_eac3_mp2.ts", R"(\[[0-9A-F]{4}\] MPEG L2 \d+Kb 48KHz (Joint )?Stereo \[deu\])",
                      R"(\[[0-9A-F]{4}\] E-AC3 5\.1 \[eng\])", " All audio tracks"});
  EXPECT_EQ(s.tracks.video.codec, Codec::H264);
  ASSERT_EQ(s.tracks.audioCount, 2u);
  EXPECT_EQ(s.tracks.audio[0].codec, Codec::MpegAudio);
  EXPECT_EQ(s.tracks.audio[1].codec, Codec::Eac3);
  EXPECT_STREQ(s.tracks.audio[1].languageOrNull(), "eng");
  EXPECT_EQ(s.tracks.videoBitRate, kH264AssumedBitRate);
}

TEST(ScanStreams, Steps192BytesInM2tsWhereOnlyExtendedStreamIdCarriesAc3) {
  // ffmpeg's 192-byte mode puts AC-3 in PES stream_id 0xFD, the one such
  // streams are scanned for, so it is listed; it leaves E-AC-3 in 0xBD,
  // which 192-byte streams are not scanned for, so that track is not listed.
  auto s = ScanFile(RequireFixture("mpeg2_mp2_ac3.m2ts"));
  EXPECT_EQ(s.summary.packetSize, 192u);
  ExpectRows(s.rows, {"mpeg2_mp2_ac3.m2ts", kMp2Deu, kAc3Eng, " All audio tracks"});
  s = ScanFile(RequireFixture("h264_eac3_mp2.m2ts"));
  EXPECT_EQ(s.summary.packetSize, 192u);
  ExpectRows(s.rows, {"h264_eac3_mp2.m2ts", kMp2Deu});
  EXPECT_EQ(s.tracks.video.codec, Codec::H264);
  ASSERT_EQ(s.tracks.audioCount, 1u);
  EXPECT_EQ(s.tracks.audio[0].codec, Codec::MpegAudio);
}

TEST(ScanStreams, ListsAtMostFourMpegTracks) {
  verbose = true;
  const auto s = ScanFile(RequireFixture("mpeg2_5mp2.ts"));
  verbose = false;
  ASSERT_EQ(s.rows.size(), 6u);
  EXPECT_EQ(s.rows[5], " All audio tracks");
  EXPECT_EQ(s.tracks.audioCount, 4u);
  ASSERT_FALSE(s.messages.empty());
  EXPECT_EQ(s.messages[0], "Warning: more than 4 audio channels!");
}

TEST(ScanStreams, HandlesStreamsOfOtherEncoders) {
  const auto h262 = test::PublicSample("sample_h262_mpeg_audio.ts");
  if (h262.empty()) GTEST_SKIP() << "shared public samples are not here";
  auto s = ScanFile(h262);
  ExpectRows(s.rows, {"sample_h262_mpeg_audio.ts", R"(\[0101\] MPEG L2 384Kb 44KHz Mono \[und\])"});

  s = ScanFile(test::PublicSample("sample_h264_mpeg_audio.ts"));
  ExpectRows(s.rows, {"sample_h264_mpeg_audio.ts", R"(\[0101\] MPEG L2 384Kb 44KHz Mono \[und\])"});
  EXPECT_EQ(s.tracks.video.codec, Codec::H264);

  // Video only.
  s = ScanFile(test::PublicSample("sample_h264_no_access_unit_delimiters.ts"));
  ExpectRows(s.rows, {"sample_h264_no_access_unit_delimiters.ts", "No supported audio track"});
  ASSERT_EQ(s.tracks.trackChoiceCount, 1u);  // the row converts the video alone
  EXPECT_EQ(s.tracks.trackChoices[0].pid, kAllTracks);

  // Audio only: nothing can be converted without video.
  for (const char* name : {"sample_ac3.ts", "sample_eac3.ts", "sample_eac3joc.ts"}) {
    s = ScanFile(test::PublicSample(name));
    ExpectRows(s.rows, {name, "No video track"});
    ASSERT_EQ(s.tracks.audioCount, 1u) << name;
    EXPECT_TRUE(IsAc3Family(s.tracks.audio[0].codec)) << name;
    EXPECT_EQ(s.tracks.trackChoiceCount, 0u);
  }
  // An elementary stream is no transport stream.
  s = ScanFile(test::PublicSample("sample.ac3"));
  ExpectRows(s.rows, {"sample.ac3", "No video track"});
}

}  // namespace
}  // namespace kelvor

namespace kelvor {
namespace {

// ffmpeg-made streams with a second track of a kind the conversion does not
// carry: the MP2 track is offered, the other named with what it holds.
TEST(ScanStreams, NamesAacDtsAndOtherRatesBesideTheMp2Track) {
  struct Case {
    const char* name;
    Codec codec;
    const char* found;
    const char* reason;
  };
  for (const Case& c : {
           Case{"mpeg2_mp2_dts.ts", Codec::Dts, "DTS 48 kHz 2.0", "DTS audio is not supported"},
           Case{"mpeg2_mp2_ac3_44k.ts", Codec::Ac3, "AC3 44.1 kHz 2.0", "AC-3 at 44.1 kHz is not supported"},
           Case{"mpeg2_mp2_eac3_44k.ts", Codec::Eac3, "E-AC3 44.1 kHz 2.0", "E-AC-3 at 44.1 kHz is not supported"},
       }) {
    SCOPED_TRACE(c.name);
    const auto s = ScanFile(RequireFixture(c.name));
    ExpectRows(s.rows, {c.name, kMp2Deu});
    ASSERT_EQ(s.summary.notCarriedCount, 1u);
    const auto& n = s.summary.notCarried[0];
    EXPECT_EQ(n.pid, 0x102u);
    EXPECT_EQ(n.codec, c.codec);
    EXPECT_STREQ(n.language.data(), "fin");
    EXPECT_STREQ(n.found.data(), c.found);
    EXPECT_STREQ(n.reason.data(), c.reason);
  }
}

// AAC in ADTS and in LATM is offered after the MP2 track, with what its
// headers say; nothing is left out.
TEST(ScanStreams, OffersAacBesideTheMp2Track) {
  for (const auto& [name, codec] : {std::pair{"mpeg2_mp2_aac.ts", Codec::AacAdts},
                                    std::pair{"mpeg2_mp2_latm.ts", Codec::AacLatm}}) {
    SCOPED_TRACE(name);
    const auto s = ScanFile(RequireFixture(name));
    ExpectRows(s.rows, {name, kMp2Deu, R"(\[0102\] AAC-LC 48 kHz 2 ch \[fin\])", " All audio tracks"});
    EXPECT_EQ(s.summary.notCarriedCount, 0u);
    ASSERT_EQ(s.tracks.audioCount, 2u);
    EXPECT_EQ(s.tracks.audio[1].codec, codec);
    EXPECT_EQ(s.tracks.audio[1].streamId, 0xC0);
  }
}

// The other programme's three audio PIDs come first; with the two of the
// programme taken they are five, more than a programme may have: the
// programme taken still offers both of its own.
TEST(ScanStreams, OffersTheProgrammesOwnTracksWhenAnotherProgrammesComeFirst) {
  const auto s = ScanFile(RequireFixture("other_programme_first.ts"));
  ExpectRows(s.rows, {"other_programme_first.ts", R"(\[0104\] MPEG L2 128Kb 48KHz Stereo \[ita\])",
                      R"(\[0105\] MPEG L2 128Kb 48KHz Stereo \[eng\])", " All audio tracks"});
  EXPECT_EQ(s.tracks.programme, 1u);
  EXPECT_EQ(s.summary.notCarriedCount, 0u);
}

}  // namespace
}  // namespace kelvor
