// PAT, PMT and PCR packets of TS output, and the TS stream templates.
#include "mux/ts_psi.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "common/crc32_mpeg.h"
#include "mux/mux_test_support.h"
#include "mux/time_stamp_fields.h"

namespace kelvor {
namespace {

using test::AddMpegTrack;
using test::AddPrivateTrack;
using test::Bytes;

using Packet = std::array<std::uint8_t, kTsPacketSize>;

std::vector<std::uint8_t> Slice(const Packet& p, std::size_t at, std::size_t n) {
  return {p.begin() + static_cast<std::ptrdiff_t>(at),
          p.begin() + static_cast<std::ptrdiff_t>(at + n)};
}

// The PMT's section (table_id .. CRC) must check out and be followed by 0xFF.
void CheckSection(const Packet& p) {
  const std::size_t length = (std::size_t{p[6]} & 0x0F) << 8 | p[7];
  EXPECT_EQ(Crc32Mpeg(std::span(p).subspan(5, 3 + length)), 0u);
  for (std::size_t n = 8 + length; n < p.size(); ++n) EXPECT_EQ(p[n], 0xFF) << n;
}

TEST(TsPsi, PatIsFixedWithItsCrc) {
  Packet pat{};
  BuildPatPacket(pat);
  EXPECT_EQ(Slice(pat, 0, 25),
            Bytes({0x47, 0x40, 0x00, 0x10, 0x00, 0x00, 0xB0, 0x11, 0x00, 0x00, 0xC3, 0x00, 0x00,
                   0x00, 0x00, 0xE0, 0x1F, 0x00, 0x01, 0xE1, 0x00, 0xD4, 0xC2, 0xB9, 0xE9}));
  CheckSection(pat);
}

TEST(TsPsi, PmtSectionLengthsAndEntries) {
  TrackTable t;
  RunSettings run;
  Packet pmt{};

  ConfigureRun(run, t, false);
  EXPECT_EQ(BuildPmtPacket(pmt, run), 18u);
  EXPECT_EQ(Slice(pmt, 0, 22),
            Bytes({0x47, 0x41, 0x00, 0x10, 0x00, 0x02, 0xB0, 18,   0x00, 0x01, 0xC3,
                   0x00, 0x00, 0xF0, 0x01, 0xF0, 0x00, 0x02, 0xF0, 0x11, 0xF0, 0x00}));
  CheckSection(pmt);

  AddMpegTrack(t, 0x44);
  ConfigureRun(run, t, false);
  EXPECT_EQ(BuildPmtPacket(pmt, run), 23u);
  EXPECT_EQ(Slice(pmt, 17, 10),
            Bytes({0x02, 0xF0, 0x11, 0xF0, 0x00, 0x03, 0xF1, 0x00, 0xF0, 0x00}));
  CheckSection(pmt);

  TrackTable h264;
  h264.video.codec = Codec::H264;
  ConfigureRun(run, h264, false);
  EXPECT_EQ(BuildPmtPacket(pmt, run), 30u);
  EXPECT_EQ(Slice(pmt, 15, 19), Bytes({0xF0, 0x06, 0x05, 0x04, 'H', 'D', 'M', 'V', 0x1B, 0xF0, 0x11,
                                       0xF0, 0x06, 0x05, 0x04, 'H', 'D', 'M', 'V'}));
  CheckSection(pmt);
}

TEST(TsPsi, PmtListsEveryAudioTrackWithRegistrationAndLanguage) {
  TrackTable t;
  AddMpegTrack(t, 0x44, "fra");
  AddMpegTrack(t, 0x45);
  AddPrivateTrack(t, 0x46, "eng");
  RunSettings run;
  ConfigureRun(run, t, false);
  Packet pmt{};
  // 18 + 5 + 6 (language) + 5 + 11 + 6 (language)
  EXPECT_EQ(BuildPmtPacket(pmt, run), 51u);
  EXPECT_EQ(Slice(pmt, 22, 33),
            Bytes({0x03, 0xF1, 0x00, 0xF0, 0x06, 0x0A, 0x04, 'f', 'r', 'a', 0x00,  //
                   0x03, 0xF1, 0x01, 0xF0, 0x00,                                   //
                   0x06, 0xF1, 0x02, 0xF0, 0x0C, 0x05, 0x04, 'A', 'C', '-', '3',
                   0x0A, 0x04, 'e',  'n',  'g',  0x00}));
  CheckSection(pmt);

  // The same private track converted: stream_type 3, no registration.
  ConfigureRun(run, t, true);
  EXPECT_EQ(BuildPmtPacket(pmt, run), 45u);
  EXPECT_EQ(Slice(pmt, 38, 11),
            Bytes({0x03, 0xF1, 0x02, 0xF0, 0x06, 0x0A, 0x04, 'e', 'n', 'g', 0x00}));

  // One selected track is always PID 0x1100.
  t.selectedAudioPid = 0x46;
  t.selectedIsPrivate = true;
  ConfigureRun(run, t, false);
  EXPECT_EQ(BuildPmtPacket(pmt, run), 18u + 11u + 6u);
  EXPECT_EQ(Slice(pmt, 22, 5), Bytes({0x06, 0xF1, 0x00, 0xF0, 0x0C}));
  CheckSection(pmt);
}

// An audio description track keeps its audio_type; an E-AC-3 track kept as
// it came is registered as "EAC3", and as "AC-3" once rewritten.
TEST(TsPsi, PmtKeepsTheAudioTypeAndNamesKeptEac3) {
  TrackTable t;
  AddPrivateTrack(t, 0x46, "qad");
  t.audio[0].codec = Codec::Eac3;
  t.audio[0].audioType = 3;
  RunSettings run;
  ConfigureRun(run, t, false, true);
  Packet pmt{};
  EXPECT_EQ(BuildPmtPacket(pmt, run), 18u + 11u + 6u);
  EXPECT_EQ(Slice(pmt, 22, 17), Bytes({0x06, 0xF1, 0x00, 0xF0, 0x0C, 0x05, 0x04, 'E', 'A', 'C', '3', 0x0A, 0x04,
                                       'q', 'a', 'd', 0x03}));
  CheckSection(pmt);
  ConfigureRun(run, t, false, false);
  BuildPmtPacket(pmt, run);
  EXPECT_EQ(Slice(pmt, 27, 6), Bytes({0x05, 0x04, 'A', 'C', '-', '3'}));
  CheckSection(pmt);
}

TEST(TsPsi, PcrPacketAndTimeFields) {
  Packet pcr{};
  BuildPcrPacket(pcr);
  EXPECT_EQ(Slice(pcr, 0, 12),
            Bytes({0x47, 0x10, 0x01, 0x20, 0xB7, 0x10, 0x00, 0x00, 0x00, 0x00, 0x7E, 0x00}));
  for (std::size_t n = 12; n < pcr.size(); ++n) EXPECT_EQ(pcr[n], 0xFF);

  std::array<std::uint8_t, 6> field{};
  WritePcrField(field.data(), 0x12345678);
  EXPECT_EQ(std::vector<std::uint8_t>(field.begin(), field.end()),
            Bytes({0x09, 0x1A, 0x2B, 0x3C, 0x7E, 0x00}));
  WritePcrField(field.data(), 0xFFFFFFFF);  // base bit 32 stays 0, bit 0 lands in byte 4
  EXPECT_EQ(std::vector<std::uint8_t>(field.begin(), field.end()),
            Bytes({0x7F, 0xFF, 0xFF, 0xFF, 0xFE, 0x00}));

  std::array<std::uint8_t, 4> ats{};
  WriteArrivalTimeStamp(ats.data(), 0x01000000);
  EXPECT_EQ(std::vector<std::uint8_t>(ats.begin(), ats.end()), Bytes({0x2C, 0x00, 0x00, 0x00}));
  WriteArrivalTimeStamp(ats.data(), 0xFFFFFFFF);  // (2^32 - 1) * 300 mod 2^30
  const std::uint32_t expected = static_cast<std::uint32_t>((0xFFFFFFFFull * 300) % (1ull << 30));
  EXPECT_EQ(std::uint32_t{ats[0]} << 24 | std::uint32_t{ats[1]} << 16 | std::uint32_t{ats[2]} << 8 |
                ats[3],
            expected);

  std::array<std::uint8_t, 5> pts{};
  WritePtsField(pts.data(), 0x12345678);
  EXPECT_EQ(test::ReadPts(pts.data()), 0x12345678u);
  EXPECT_EQ(pts[0] & 0xF1, 0x21);  // '0010', marker
  EXPECT_EQ(pts[2] & 1, 1);
  EXPECT_EQ(pts[4] & 1, 1);

  std::array<std::uint8_t, 5> scr{};
  WriteScrField(scr.data(), 0);
  EXPECT_EQ(std::vector<std::uint8_t>(scr.begin(), scr.end()),
            Bytes({0x44, 0x00, 0x04, 0x00, 0x04}));
  WriteScrField(scr.data(), 0xFFFFFFFF);
  EXPECT_EQ(std::vector<std::uint8_t>(scr.begin(), scr.end()),
            Bytes({0x5F, 0xFF, 0xFF, 0xFF, 0xFC}));
}

TEST(TsPsi, StreamTemplateHasFirstAndFollowingPacket) {
  std::array<std::uint8_t, 2048> tmpl{};
  BuildTsTemplate(tmpl, 4, 0x1102, 0xBD);
  EXPECT_EQ(std::vector<std::uint8_t>(tmpl.begin(), tmpl.begin() + 22),
            Bytes({0x00, 0x00, 0x00, 0x00, 0x47, 0x51, 0x02, 0x10, 0x00, 0x00, 0x01,
                   0xBD, 0x00, 0x00, 0x81, 0x00, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(std::vector<std::uint8_t>(tmpl.begin() + 192, tmpl.begin() + 200),
            Bytes({0x00, 0x00, 0x00, 0x00, 0x47, 0x11, 0x02, 0x10}));
}

}  // namespace
}  // namespace kelvor
