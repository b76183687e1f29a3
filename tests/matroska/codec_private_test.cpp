// Codec private data and picture formats built from the streams' own
// headers. The expected records are what a peer muxer wrote for the same
// parameter sets (streams made with x264/x265 and the AAC encoder, then
// remuxed to Matroska with a stream copy).
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "matroska/aac_config.h"
#include "matroska/audio_format.h"
#include "matroska/avc_config.h"
#include "matroska/dvb_subtitle_config.h"
#include "matroska/hevc_config.h"
#include "matroska/mpeg2_sequence.h"
#include "matroska/nal_units.h"
#include "matroska/track_descriptors.h"

namespace kelvor::mkv {
namespace {

std::vector<std::uint8_t> Hex(const std::string& text) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
  return out;
}

// x264, High profile, 720x576 interlaced, sample aspect ratio 16:15.
const auto kAvcSps = Hex("6764001eacd940b424dff8008000788000000300800000190f8a14cb");
const auto kAvcPps = Hex("68fe8fcb");
// x265, Main profile, 352x288.
const auto kHevcVps = Hex("40010c01ffff01600000030090000003000003003c959409");
const auto kHevcSps = Hex("42010101600000030090000003000003003ca00b080485965654a4c2f0168080000003008000000c84");
const auto kHevcPps = Hex("4401c073c189");

TEST(AvcConfig, MatchesThePeersRecordAndReadsThePicture) {
  std::array<std::uint8_t, 256> out{};
  const std::size_t n = BuildAvcConfig(kAvcSps, kAvcPps, out);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + static_cast<long>(n)),
            Hex("0164001effe1001c" "6764001eacd940b424dff8008000788000000300800000190f8a14cb" "010004" "68fe8fcb"
                "fdf8f800"));

  const auto sps = ReadAvcSps(kAvcSps);
  ASSERT_TRUE(sps);
  EXPECT_EQ(sps->format.width, 720u);
  EXPECT_EQ(sps->format.height, 576u);
  EXPECT_EQ(sps->format.displayWidth, 768u);  // 720 x 16/15
  EXPECT_EQ(sps->format.displayHeight, 576u);
  EXPECT_TRUE(sps->format.interlaceKnown);
  EXPECT_TRUE(sps->format.interlaced);
  EXPECT_EQ(sps->format.frameDurationNs, 40000000u);

  // Cut short, or not a parameter set at all: no record.
  EXPECT_EQ(BuildAvcConfig(std::span(kAvcSps).first(6), kAvcPps, out), 0u);
  EXPECT_EQ(BuildAvcConfig(kAvcPps, kAvcPps, out), 0u);
  EXPECT_EQ(BuildAvcConfig(kAvcSps, kAvcPps, std::span(out).first(20)), 0u);
}

TEST(HevcConfig, MatchesThePeersRecordAndReadsThePicture) {
  std::array<std::uint8_t, 256> out{};
  const std::size_t n = BuildHevcConfig(kHevcVps, kHevcSps, kHevcPps, out);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + static_cast<long>(n)),
            Hex("010160000000900000000000" "3cf000fcfdf8f800000f03"
                "2000010018" "40010c01ffff01600000030090000003000003003c959409"
                "2100010029" "42010101600000030090000003000003003ca00b080485965654a4c2f0168080000003008000000c84"
                "2200010006" "4401c073c189"));
  const auto sps = ReadHevcSps(kHevcSps);
  ASSERT_TRUE(sps);
  EXPECT_EQ(sps->format.width, 352u);
  EXPECT_EQ(sps->format.height, 288u);
  EXPECT_EQ(BuildHevcConfig(kHevcVps, std::span(kHevcSps).first(10), kHevcPps, out), 0u);
  EXPECT_EQ(BuildHevcConfig({}, kHevcSps, kHevcPps, out), 0u);
}

TEST(AacConfig, AdtsAndLatmGiveTheSameConfiguration) {
  // AAC-LC, 48 kHz, stereo: the first bytes of an ADTS frame and of a LOAS
  // frame with its stream mux configuration.
  const auto adts = Hex("fff14c8024fffcde02");
  const auto header = ReadAdtsHeader(adts);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->headerSize, 7u);
  EXPECT_EQ(header->frameSize, 295u);
  std::array<std::uint8_t, 8> asc{};
  ASSERT_EQ(AscFromAdts(*header, asc), 2u);
  EXPECT_EQ(asc[0], 0x11);
  EXPECT_EQ(asc[1], 0x90);

  const auto loas = Hex("56e128200011901fe7f90ef0");
  std::array<std::uint8_t, 8> fromLatm{};
  ASSERT_EQ(AscFromLatm(loas, fromLatm), 2u);
  EXPECT_EQ(fromLatm[0], 0x11);
  EXPECT_EQ(fromLatm[1], 0x90);
  const AscSummary s = SummariseAsc(std::span(asc).first(2));
  EXPECT_EQ(s.sampleRate, 48000u);
  EXPECT_EQ(s.channels, 2u);

  // The raw frame after the configuration: a second frame that refers to it
  // reads the same way.
  LatmState state;
  std::array<std::uint8_t, 32> raw{};
  const auto whole = Hex("56e00a200011901fe01d55de60");  // configuration, frame aa bb cc
  ASSERT_EQ(LatmRawFrame(whole, state, raw), 3u);
  EXPECT_EQ(std::vector<std::uint8_t>(raw.begin(), raw.begin() + 3), Hex("aabbcc"));
  EXPECT_TRUE(state.known);
  const auto same = Hex("56e00581eef77f80");  // useSameStreamMux, frame dd ee ff
  ASSERT_EQ(LatmRawFrame(same, state, raw), 3u);
  EXPECT_EQ(std::vector<std::uint8_t>(raw.begin(), raw.begin() + 3), Hex("ddeeff"));
  LatmState fresh;
  EXPECT_EQ(LatmRawFrame(same, fresh, raw), 0u) << "no configuration seen yet";
  EXPECT_EQ(LatmRawFrame(std::span(whole).first(10), fresh, raw), 0u) << "cut short";

  // A frame that refers to an earlier configuration, or no LOAS at all.
  auto sameMux = loas;
  sameMux[3] |= 0x80;  // useSameStreamMux
  EXPECT_EQ(AscFromLatm(sameMux, fromLatm), 0u);
  EXPECT_EQ(AscFromLatm(adts, fromLatm), 0u);
  EXPECT_FALSE(ReadAdtsHeader(loas));
}

TEST(DvbSubtitleConfig, TakesPagesAndTypeFromTheSubtitlingDescriptor) {
  // A language descriptor first, then the subtitling descriptor: "deu",
  // type 0x20 (hard of hearing), composition page 2, ancillary page 3.
  const std::vector<std::uint8_t> descriptors = {0x0A, 4, 'd', 'e', 'u', 0,
                                                 0x59, 8, 'd', 'e', 'u', 0x20, 0x00, 0x02, 0x00, 0x03};
  DvbSubtitleEntry e;
  ASSERT_TRUE(ReadDvbSubtitleEntry(descriptors, e));
  EXPECT_STREQ(e.language.data(), "deu");
  EXPECT_TRUE(e.hardOfHearing());
  EXPECT_EQ(DvbSubtitlePrivate(e), (std::array<std::uint8_t, 5>{0x00, 0x02, 0x00, 0x03, 0x20}));
  // A descriptor running past the loop is not read.
  auto cut = descriptors;
  cut[7] = 12;
  EXPECT_FALSE(ReadDvbSubtitleEntry(cut, e));
}

// Languages and the accessibility flags from the PMT's descriptors, as a
// broadcaster signals an audio description track, clean audio and
// subtitles for the hard of hearing.
TEST(TrackDescriptors, LanguageAndAccessibilityFromThePmt) {
  const TrackDescription plain = DescribeTrack(std::vector<std::uint8_t>{0x0A, 4, 'd', 'e', 'u', 0x00});
  EXPECT_STREQ(plain.language.data(), "deu");
  EXPECT_FALSE(plain.visualImpaired || plain.hearingImpaired);

  EXPECT_TRUE(DescribeTrack(std::vector<std::uint8_t>{0x0A, 4, 'e', 'n', 'g', 0x03}).visualImpaired);
  EXPECT_TRUE(DescribeTrack(std::vector<std::uint8_t>{0x0A, 4, 'e', 'n', 'g', 0x02}).hearingImpaired);

  // Supplementary audio: audio description (classification 1) in French
  // after a language descriptor that says "qad"; clean audio (2).
  const TrackDescription ad = DescribeTrack(
      std::vector<std::uint8_t>{0x0A, 4, 'q', 'a', 'd', 0x00, 0x7F, 5, 0x06, 0x85, 'f', 'r', 'a'});
  EXPECT_TRUE(ad.visualImpaired);
  EXPECT_FALSE(ad.hearingImpaired);
  EXPECT_STREQ(ad.language.data(), "fra");
  EXPECT_TRUE(DescribeTrack(std::vector<std::uint8_t>{0x7F, 2, 0x06, 0x88}).hearingImpaired);

  // Subtitles for the hard of hearing; a descriptor past the loop's end is
  // not read.
  const TrackDescription sub =
      DescribeTrack(std::vector<std::uint8_t>{0x59, 8, 'n', 'l', 'd', 0x24, 0x00, 0x01, 0x00, 0x01});
  EXPECT_STREQ(sub.language.data(), "nld");
  EXPECT_TRUE(sub.hearingImpaired);
  EXPECT_EQ(DescribeTrack(std::vector<std::uint8_t>{0x0A, 9, 'd', 'e', 'u', 0x03}).language[0], '\0');
}

TEST(NalUnits, StartCodesBecomeLengthsWithoutDelimitersOrPadding) {
  // AUD (3-byte start code), SPS after a 4-byte start code with a trailing
  // zero byte, a slice, filler data.
  const auto unit = Hex("0000010910" "00000001" "6742" "00" "000001" "65aabb" "0000010cffff");
  std::array<std::uint8_t, 64> out{};
  const std::size_t n = ToLengthPrefixed(unit, out, NalSyntax::H264);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + static_cast<long>(n)),
            Hex("00000002" "6742" "00000003" "65aabb"));
  EXPECT_EQ(ToLengthPrefixed(unit, std::span(out).first(8), NalSyntax::H264), 0u) << "too small";

  // HEVC: the access unit delimiter is type 35.
  const auto hevc = Hex("000001" "4601" "000001" "2601aa");
  EXPECT_EQ(ToLengthPrefixed(hevc, out, NalSyntax::Hevc), 7u);

  // Emulation prevention bytes are taken out for reading.
  const auto escaped = Hex("000003010000030300");
  std::array<std::uint8_t, 16> plain{};
  EXPECT_EQ(Unescape(escaped, plain), 7u);
  EXPECT_EQ(std::vector<std::uint8_t>(plain.begin(), plain.begin() + 7), Hex("00000100000300"));
}

TEST(VideoFormats, Mpeg2SequenceGivesSizeAspectRateAndScan) {
  // 720x576, 16:9, 25 frames/s, interlaced (progressive_sequence 0).
  const auto unit = Hex("000001b32d024033ffffe018000001b5148200010000000001b8000800400000010000");
  const auto f = ReadMpeg2Sequence(unit);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->width, 720u);
  EXPECT_EQ(f->height, 576u);
  EXPECT_EQ(f->displayWidth, 1024u);
  EXPECT_EQ(f->displayHeight, 576u);
  EXPECT_TRUE(f->interlaced);
  EXPECT_EQ(f->frameDurationNs, 40000000u);
  EXPECT_FALSE(ReadMpeg2Sequence(std::span(unit).first(6)));
  // The codec private data: header and sequence extension, 22 bytes as the
  // peers write them, without the GOP header after them.
  const auto sequence = Mpeg2SequenceBytes(unit);
  EXPECT_EQ(std::vector<std::uint8_t>(sequence.begin(), sequence.end()),
            std::vector<std::uint8_t>(unit.begin(), unit.begin() + 22));
  EXPECT_TRUE(Mpeg2SequenceBytes(std::span(unit).subspan(4)).empty());
}

TEST(AudioFormats, FirstFrameGivesRateAndChannels) {
  // MPEG-1 Layer II, 48 kHz, stereo; MPEG-2 Layer II, 24 kHz, mono.
  EXPECT_EQ(ReadMpegAudioFormat(Hex("fffd8400")).sampleRate, 48000u);
  EXPECT_EQ(ReadMpegAudioFormat(Hex("fffd8400")).channels, 2u);
  EXPECT_EQ(ReadMpegAudioFormat(Hex("fff584c0")).sampleRate, 24000u);
  EXPECT_EQ(ReadMpegAudioFormat(Hex("fff584c0")).channels, 1u);
  // AC-3, 48 kHz, 3/2 with LFE (acmod 7, lfeon 1).
  const AudioFormat ac3 = ReadAc3Format(Hex("0b770000" "1c" "40" "e7" "ff"));
  EXPECT_EQ(ac3.sampleRate, 48000u);
  EXPECT_EQ(ac3.channels, 6u);
  EXPECT_EQ(ReadAc3Format(Hex("0b770000")).sampleRate, 0u);
}

}  // namespace
}  // namespace kelvor::mkv
