// The video handler: where output starts, the counted MPEG-2 time line and
// its re-timing after lost pictures, start codes split across pieces, and
// the H.264 rules (pack padding, filler removal, decode-time gaps).
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>

#include "convert_test_support.h"

namespace kelvor::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes SequenceHeader() { return {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x33, 0x24, 0x9F, 0x23, 0x81}; }
Bytes GopHeader() { return {0x00, 0x00, 0x01, 0xB8, 0x00, 0x08, 0x00, 0x40}; }
// Picture coding types.
constexpr std::uint8_t kI = 1;
constexpr std::uint8_t kP = 2;
constexpr std::uint8_t kB = 3;

// A picture header with temporal_reference tr, then one slice of data; `seed`
// tells pictures of the same size apart.
Bytes Picture(std::uint32_t tr, std::size_t sliceBytes = 40, std::uint8_t type = kI, std::uint32_t seed = 0) {
  Bytes b{0x00, 0x00, 0x01, 0x00, static_cast<std::uint8_t>(tr >> 2),
          static_cast<std::uint8_t>(((tr & 3) << 6) | (type << 3)), 0x12, 0x34, 0x00, 0x00, 0x01, 0x01};
  for (std::size_t k = 0; k < sliceBytes; ++k) b.push_back(static_cast<std::uint8_t>(0x21 + (k + seed) % 13));
  return b;
}

struct VideoRig : HandlerRig {
  explicit VideoRig(OutputFormat format = OutputFormat::Ts, bool h264 = false)
      : VideoRig(format, h264 ? Codec::H264 : Codec::Mpeg2Video) {}
  VideoRig(OutputFormat format, Codec codec)
      : video(codec == Codec::H264   ? static_cast<VideoHandler&>(h264Video)
              : codec == Codec::Hevc ? static_cast<VideoHandler&>(hevcVideo)
                                     : mpeg2Video) {
    tracks.video.codec = codec;
    tracks.videoBitRate = 15000;
    start(format);
    startAt(0);
  }
  // One PES packet (pts < 0: none), handed over in pieces of `piece` bytes.
  bool pes(const Bytes& data, std::int64_t pts, std::size_t piece = 184, std::int64_t dts = -1) {
    const PesStamp stamp{static_cast<std::uint32_t>(pts), pts >= 0, static_cast<std::uint32_t>(dts), dts >= 0};
    for (std::size_t pos = 0; pos < data.size(); pos += piece) {
      const std::size_t n = std::min(piece, data.size() - pos);
      const auto bytes = std::span(data).subspan(pos, n);
      if (!(pos == 0 ? video.HandleVideo(bytes, stamp) : video.HandleVideo(bytes))) return false;
      if (video.stopped()) break;
    }
    return true;
  }
  bool finish() { return video.Finish() && mux.FinishOutput(video.outputOn()); }
  VideoHandler& video;  // of the rig's codec
  Bytes es() { return TsElementaryOf(sink, 0x1011); }
  // PTS of every video PES packet in TS output.
  std::vector<std::uint32_t> ptsList() const {
    std::vector<std::uint32_t> out;
    for (const auto& p : sink.packets) {
      if (p[1] != 0x50 || p[2] != 0x11) continue;
      const std::size_t s = (p[3] & 0x20) ? 5u + p[4] : 4u;
      if ((p[s + 7] & 0x80) == 0) continue;
      const std::uint8_t* t = &p[s + 9];
      out.push_back(((t[0] & 0x06u) << 29) | (t[1] << 22) | ((t[2] & 0xFEu) << 14) | (t[3] << 7) |
                    (t[4] >> 1));
    }
    return out;
  }
  // Video PES packets of the TS output that carry no data.
  std::size_t emptyPesCount() const {
    std::size_t n = 0;
    for (const auto& p : sink.packets) {
      if (p[1] != 0x50 || p[2] != 0x11) continue;
      const std::size_t s = (p[3] & 0x20) ? 5u + p[4] : 4u;
      n += s + 9u + p[s + 8] >= 188;
    }
    return n;
  }
  std::size_t pesCount() const {
    std::size_t n = 0;
    for (const auto& p : sink.packets) n += p[1] == 0x50 && p[2] == 0x11;
    return n;
  }
};

Bytes Gop(std::uint32_t pictures) {
  Bytes b = SequenceHeader();
  Append(b, GopHeader());
  Append(b, Picture(0));
  for (std::uint32_t k = 1; k < pictures; ++k) Append(b, Picture(k));
  return b;
}

TEST(VideoHandlerMpeg2, AnchorsTheTimeLineAndStartsAtTheNextSequenceHeader) {
  VideoRig rig;
  Bytes first = SequenceHeader();
  Append(first, GopHeader());
  Append(first, Picture(2));
  ASSERT_TRUE(rig.pes(first, 100000));
  EXPECT_EQ(rig.timing.videoTime, 92800u);
  EXPECT_FALSE(rig.video.outputOn()) << "output waits for a sequence header after the anchor";
  EXPECT_EQ(rig.packetCount(), 0u);

  Bytes second = SequenceHeader();
  Append(second, GopHeader());
  Append(second, Picture(2));
  ASSERT_TRUE(rig.pes(second, 100000 + 3600));
  ASSERT_TRUE(rig.finish());
  EXPECT_EQ(rig.es(), second);
  ASSERT_FALSE(rig.ptsList().empty());
  EXPECT_EQ(rig.ptsList().front(), 103600u) << "nothing lost: the input PTS is kept";
}

TEST(VideoHandlerMpeg2, RecordingOfOneGopBeforeTheFirstAudioStampConverts) {
  // All its video comes before the first audio packet: no sequence header
  // follows the anchor, so the kept input is played again at the end.
  for (const std::size_t piece : {184u, 7u}) {
    VideoRig rig;
    rig.timing.startFound = false;
    Bytes first = SequenceHeader();
    Append(first, GopHeader());
    Append(first, Picture(0, 300));
    const Bytes second = Picture(1, 200, kP);
    ASSERT_TRUE(rig.pes(first, 100000, piece));
    ASSERT_TRUE(rig.pes(second, 103600, piece));
    rig.startAt(0);
    ASSERT_TRUE(rig.finish());
    Bytes stream = first;
    Append(stream, second);
    EXPECT_EQ(rig.es(), stream) << piece;
    const std::vector<std::uint32_t> expected{100000, 103600};
    EXPECT_EQ(rig.ptsList(), expected) << piece;
  }
}

TEST(VideoHandlerMpeg2, ZerosAtTheEndOfTheInputStayWithTheLastPicture) {
  for (const std::size_t zeros : {1u, 2u}) {
    VideoRig rig;
    ASSERT_TRUE(rig.pes(Picture(0), 96400));  // anchors the time line; not written
    Bytes stream = SequenceHeader();
    Append(stream, GopHeader());
    Append(stream, Picture(0));
    ASSERT_TRUE(rig.pes(stream, 100000));
    Bytes last = Picture(1, 40, kP);
    last.insert(last.end(), zeros, 0x00);
    ASSERT_TRUE(rig.pes(last, 103600));
    ASSERT_TRUE(rig.finish());
    Append(stream, last);
    EXPECT_EQ(rig.es(), stream) << zeros;
  }
}

TEST(VideoHandlerMpeg2, FirstGopWrittenKeepsItsLeadingPictures) {
  // The time line is anchored at a B picture; output starts at the next
  // sequence header, whose I picture is the first reference picture seen.
  // The B pictures shown before it are written like any others.
  VideoRig rig;
  ASSERT_TRUE(rig.pes(Picture(1, 40, kB), 93600));
  Bytes gop = SequenceHeader();
  Append(gop, GopHeader());
  Append(gop, Picture(2));
  ASSERT_TRUE(rig.pes(gop, 104400));
  ASSERT_TRUE(rig.pes(Picture(0, 40, kB), 97200));
  ASSERT_TRUE(rig.pes(Picture(1, 40, kB), 100800));
  ASSERT_TRUE(rig.finish());
  Append(gop, Picture(0, 40, kB));
  Append(gop, Picture(1, 40, kB));
  EXPECT_EQ(rig.es(), gop);
  EXPECT_EQ(rig.ptsList(), (std::vector<std::uint32_t>{104400, 97200, 100800}));
}

TEST(VideoHandlerMpeg2, CountsPicturesPerGop) {
  VideoRig rig;
  Bytes gop = GopHeader();
  for (std::uint32_t tr = 0; tr < 12; ++tr) Append(gop, Picture(tr));
  ASSERT_TRUE(rig.pes(gop, 90000));
  const std::uint32_t before = rig.timing.videoTime;
  ASSERT_TRUE(rig.pes(GopHeader(), -1));
  EXPECT_EQ(rig.timing.videoTime - before, 43200u);
}

TEST(VideoHandlerMpeg2, ClosesGapsByMovingTheTimeOrigin) {
  VideoRig rig;
  Bytes first = SequenceHeader();
  Append(first, GopHeader());
  Append(first, Picture(0));
  ASSERT_TRUE(rig.pes(first, 90000));
  // Two pictures lost: the next one arrives 7200 ticks later than counted.
  ASSERT_TRUE(rig.pes(Picture(1), 90000 + 3600 + 7200));
  EXPECT_EQ(rig.timing.startBase, 7200u);
  EXPECT_EQ(rig.video.timeRemoved(), 7200);
  // A jump of exactly 10 seconds is absorbed...
  ASSERT_TRUE(rig.pes(Picture(2), 90000 + 7200 + 7200 + 900000));
  EXPECT_FALSE(rig.video.stopped());
  EXPECT_EQ(rig.timing.startBase, 907200u);
  // ...one tick more ends the conversion.
  ASSERT_TRUE(rig.pes(Picture(3), 90000 + 10800 + 907200 + 900001));
  EXPECT_TRUE(rig.video.stopped());
  const std::size_t packets = rig.packetCount();
  ASSERT_TRUE(rig.pes(Gop(3), 5000000));
  EXPECT_EQ(rig.packetCount(), packets) << "nothing is written once stopped";
}

// Output PTS values sorted, as a player lines pictures up.
std::vector<std::uint32_t> Sorted(std::vector<std::uint32_t> v) {
  std::sort(v.begin(), v.end());
  return v;
}

// One picture per PES packet, each with its time stamp: (tr, display slot,
// coding type, content seed).
struct Pic {
  std::uint32_t tr;
  std::int64_t slot;
  std::uint8_t type = kI;
  std::uint32_t seed = 0;
};
Bytes PesData(const Pic& pic, bool gopHeader) {
  Bytes b;
  if (gopHeader) {
    b = SequenceHeader();
    Append(b, GopHeader());
  }
  Append(b, Picture(pic.tr, 40, pic.type, pic.seed));
  return b;
}
bool SendPictures(VideoRig& rig, std::int64_t origin, std::initializer_list<Pic> pics, bool gopHeader,
                  std::size_t piece = 184) {
  bool first = gopHeader;
  for (const Pic& pic : pics) {
    if (!rig.pes(PesData(pic, first), origin + pic.slot * 3600, piece)) return false;
    first = false;
  }
  return true;
}

// The PTS of the output pictures in the order a decoder shows them: a B
// picture as soon as it is decoded, a reference picture when the next one is
// decoded. TS output, one picture per PES packet.
std::vector<std::uint32_t> ShownOrder(VideoRig& rig) {
  const Bytes es = rig.es();
  std::vector<std::uint8_t> types;
  for (std::size_t i = 0; i + 5 < es.size(); ++i) {
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0) types.push_back((es[i + 5] >> 3) & 7);
  }
  const std::vector<std::uint32_t> pts = rig.ptsList();
  EXPECT_EQ(types.size(), pts.size()) << "one time stamp per picture";
  std::vector<std::uint32_t> shown;
  std::optional<std::uint32_t> reference;
  for (std::size_t k = 0; k < std::min(types.size(), pts.size()); ++k) {
    if (types[k] == kB) {
      shown.push_back(pts[k]);
    } else {
      if (reference) shown.push_back(*reference);
      reference = pts[k];
    }
  }
  if (reference) shown.push_back(*reference);
  return shown;
}

// `count` places one picture apart from `first`.
std::vector<std::uint32_t> Places(std::int64_t first, std::uint32_t count) {
  std::vector<std::uint32_t> v;
  for (std::uint32_t k = 0; k < count; ++k) v.push_back(static_cast<std::uint32_t>(first + k * 3600));
  return v;
}

TEST(VideoHandlerMpeg2, FieldPairTakesOneFrameAndOnePesPacket) {
  // GOPs of four frames, each coded as a top and a bottom field picture in
  // PES packets of their own (the second field's PTS half a frame later).
  auto field = [](std::uint32_t tr, std::uint8_t structure) {
    Bytes b = Picture(tr, 0);
    b.resize(8);  // the picture header, then its coding extension
    Append(b, {0x00, 0x00, 0x01, 0xB5, 0x8F, 0xFF, structure, 0x00, 0x80, 0x80, 0x00, 0x00, 0x01, 0x01});
    for (int k = 0; k < 30; ++k) b.push_back(static_cast<std::uint8_t>(0x21 + k));
    return b;
  };
  VideoRig rig;
  Bytes written;
  for (std::uint32_t gop = 0; gop < 3; ++gop) {
    for (std::uint32_t tr = 0; tr < 4; ++tr) {
      Bytes top = tr == 0 ? SequenceHeader() : Bytes{};
      if (tr == 0) Append(top, GopHeader());
      Append(top, field(tr, 1));
      const Bytes bottom = field(tr, 2);
      const std::int64_t pts = 90000 + (gop * 4 + tr) * 3600;
      ASSERT_TRUE(rig.pes(top, pts));
      ASSERT_TRUE(rig.pes(bottom, pts + 1800));
      if (gop > 0) {  // output begins at the sequence header after the anchor
        Append(written, top);
        Append(written, bottom);
      }
    }
  }
  ASSERT_TRUE(rig.finish());
  EXPECT_EQ(rig.es(), written);
  EXPECT_EQ(rig.ptsList(), Places(90000 + 4 * 3600, 8));
  EXPECT_EQ(rig.video.timeRemoved(), 0);
}

// The time line after lost pictures: every picture that arrives gets a place
// of its own, the places follow each other without a hole, and the picture
// that shows the jump carries the lost time away with it.
TEST(VideoHandlerMpeg2, LostGopHeaderContinuesOnTheFirstFreePlace) {
  VideoRig rig;
  ASSERT_TRUE(rig.pes(Gop(1), 90000));  // anchors; output starts at the next GOP
  const std::int64_t o = 93600;
  // I2 B0 B1 P5 B3 B4 P8 B6 arrive, B7 and three seconds after it are lost,
  // with the next GOP header: B4 of a later GOP is the first picture again.
  ASSERT_TRUE(SendPictures(rig, o, {{2, 2}, {0, 0}, {1, 1}, {5, 5}, {3, 3}, {4, 4}, {8, 8}, {6, 6}}, true));
  const std::int64_t later = o + 12 * 3600 + 270000;
  ASSERT_TRUE(SendPictures(rig, later, {{4, 4}, {8, 8}, {6, 6}, {7, 7}, {11, 11}, {9, 9}, {10, 10}}, false));
  ASSERT_TRUE(SendPictures(rig, later + 12 * 3600, {{2, 2}, {0, 0}, {1, 1}}, true));
  ASSERT_TRUE(rig.mux.FinishOutput(true));
  std::vector<std::uint32_t> expected;
  for (std::uint32_t k = 0; k < 18; ++k) expected.push_back(static_cast<std::uint32_t>(o) + k * 3600);
  EXPECT_EQ(Sorted(rig.ptsList()), expected) << "B4 takes the place of the lost B7, no place is used twice";
  // B4 of the later GOP (input later + 4 pictures) is shown at o + 7 pictures.
  EXPECT_EQ(rig.video.timeRemoved(), later - o - 3 * 3600);
  EXPECT_EQ(rig.timing.startBase, static_cast<std::uint32_t>(later - o - 3 * 3600));
}

TEST(VideoHandlerMpeg2, GopWithoutItsLeadingPicturesIsFollowedWithoutOverlap) {
  // The GOP after a loss begins with its I picture (tr 2); the B pictures
  // before it were lost too. The I picture follows the last one written, and
  // the next GOP follows the I picture: one cut of the time origin, no
  // second one, no place used twice and no hole.
  VideoRig rig;
  ASSERT_TRUE(rig.pes(Gop(1), 90000));
  const std::int64_t o = 93600;
  ASSERT_TRUE(SendPictures(rig, o, {{2, 2}, {0, 0}, {1, 1}, {3, 3}}, true));
  const std::int64_t later = o + 4 * 3600 + 90000;  // one second lost
  ASSERT_TRUE(SendPictures(rig, later, {{2, 2}}, true));
  const std::int64_t removed = rig.video.timeRemoved();
  EXPECT_EQ(removed, 90000 + 2 * 3600);
  ASSERT_TRUE(SendPictures(rig, later + 3 * 3600, {{2, 2}, {0, 0}, {1, 1}, {5, 5}, {3, 3}, {4, 4}}, true));
  EXPECT_EQ(rig.video.timeRemoved(), removed) << "the time origin moves once";
  ASSERT_TRUE(rig.mux.FinishOutput(true));
  std::vector<std::uint32_t> expected;
  for (std::uint32_t k = 0; k < 11; ++k) expected.push_back(static_cast<std::uint32_t>(o) + k * 3600);
  EXPECT_EQ(Sorted(rig.ptsList()), expected);
}

// The GOP before a loss: I2 B0 B1 P5 B3 B4 at origin o.
constexpr Pic kGopBeforeLoss[] = {{2, 2}, {0, 0, kB}, {1, 1, kB}, {5, 5, kP}, {3, 3, kB}, {4, 4, kB}};
bool SendGopBeforeLoss(VideoRig& rig, std::int64_t o) {
  for (std::size_t k = 0; k < std::size(kGopBeforeLoss); ++k) {
    if (!rig.pes(PesData(kGopBeforeLoss[k], k == 0), o + kGopBeforeLoss[k].slot * 3600)) return false;
  }
  return true;
}
// Its output bytes: output starts at its sequence header.
Bytes GopBeforeLossBytes() {
  Bytes b;
  for (std::size_t k = 0; k < std::size(kGopBeforeLoss); ++k) Append(b, PesData(kGopBeforeLoss[k], k == 0));
  return b;
}

TEST(VideoHandlerMpeg2, RestartingPictureMakesRoomForTheLeadingPicturesThatArrive) {
  // After a loss the next GOP header and its I picture (tr 2) arrive, then
  // none, the last or both of the B pictures shown before it. The I picture
  // waits for the next picture to know: those that arrive are shown before it
  // on places of their own, nothing is shown twice or out of order, and the
  // cut of the time origin is exactly the time lost, so sound stays in step.
  for (std::uint32_t firstLeading = 0; firstLeading <= 2; ++firstLeading) {
    SCOPED_TRACE(firstLeading);
    VideoRig rig;
    ASSERT_TRUE(rig.pes(Gop(1), 90000));
    const std::int64_t o = 93600;
    ASSERT_TRUE(SendGopBeforeLoss(rig, o));
    // P8 and everything up to one second later is lost.
    const std::int64_t later = o + 6 * 3600 + 90000;
    ASSERT_TRUE(SendPictures(rig, later, {{2, 2}}, true));
    EXPECT_EQ(rig.video.timeRemoved(), 90000 + 2 * 3600) << "placed as if none arrives, until it is known";
    if (firstLeading == 0) {
      ASSERT_TRUE(SendPictures(rig, later, {{0, 0, kB}}, false));
    }
    if (firstLeading <= 1) {
      ASSERT_TRUE(SendPictures(rig, later, {{1, 1, kB}}, false));
    }
    ASSERT_TRUE(SendPictures(rig, later, {{5, 5, kP}, {3, 3, kB}, {4, 4, kB}}, false));
    ASSERT_TRUE(SendPictures(rig, later + 6 * 3600, {{2, 2}, {0, 0, kB}, {1, 1, kB}}, true));
    ASSERT_TRUE(rig.finish());

    // The first picture after the loss (input `later` + firstLeading) follows B4.
    EXPECT_EQ(rig.video.timeRemoved(), 90000 + static_cast<std::int64_t>(firstLeading) * 3600);
    const auto expected = Places(o, 15 - firstLeading);
    EXPECT_EQ(Sorted(rig.ptsList()), expected) << "no place used twice, no hole";
    EXPECT_EQ(ShownOrder(rig), expected) << "shown in time stamp order";
  }
}

// Which pictures are written after a loss, and where. A B picture placed
// after the reference picture written last lost that later reference: a
// decoder would show it ahead of it, out of order, so it is left out, and so
// is a B picture that comes first after a loss (it leans on the reference
// picture lost before it); the next reference picture takes the first free
// place. No picture lands on a place taken before a restart.
TEST(VideoHandlerMpeg2, PicturesAfterALossKeepTheirOrderAndAPlaceOfTheirOwn) {
  struct Step {
    Pic pic;             // slot: input place, in pictures from o
    bool gopHeader;
    bool kept;
  };
  struct Case {
    const char* what;
    std::size_t before;           // pictures of the GOP I2 B0 B1 P5 B3 B4 at o sent first
    std::vector<Step> steps;      // then these
    std::vector<std::int64_t> places;  // output places of everything written, from o
  };
  constexpr std::int64_t S = 25;  // one second, in pictures
  const Case cases[] = {
      {"B6 arrives, its later reference P8 is lost, and the next second",
       6,
       {{{6, 6, kB}, false, false},
        {{2, 8 + S}, true, true},
        {{0, 6 + S, kB}, false, true},
        {{1, 7 + S, kB}, false, true}},
       {0, 1, 2, 3, 4, 5, 6, 7, 8}},
      {"the next GOP on time, its I picture lost",
       6,
       {{{0, 6, kB}, true, false}, {{1, 7, kB}, false, false}, {{5, 11, kP}, false, true}, {{3, 9, kB}, false, true}},
       {0, 1, 2, 3, 4, 5, 6, 8}},
      {"restart at B0 of a GOP whose start was lost, after the I picture",
       3,
       {{{0, 6 + S, kB}, false, false}, {{1, 7 + S, kB}, false, false}, {{5, 11 + S, kP}, false, true}},
       {0, 1, 2, 3}},
      {"B4 of a later second in the place of a lost B picture before P5: left out, P8 follows P5",
       5,
       {{{4, 4 + S, kB}, false, false}, {{8, 8 + S, kP}, false, true}, {{6, 6 + S, kB}, false, true}},
       {0, 1, 2, 3, 5, 6, 8}},
      {"B7 lost, then B0 and B1 of a GOP whose start was lost: both left out, the next GOP follows P8",
       6,
       {{{8, 8, kP}, false, true},
        {{6, 6, kB}, false, true},
        {{0, 12 + S, kB}, false, false},
        {{1, 13 + S, kB}, false, false},
        {{2, 26 + S}, true, true},
        {{0, 24 + S, kB}, false, true}},
       {0, 1, 2, 3, 4, 5, 6, 8, 9, 11}},
      {"B3 lost, B4 arrives, then B0 and B1 of a GOP whose start was lost: B0 would be shown after B4, B1 land on it",
       4,
       {{{4, 4, kB}, false, true},
        {{0, 12 + S, kB}, false, false},
        {{1, 13 + S, kB}, false, false},
        {{5, 17 + S, kP}, false, true},
        {{3, 15 + S, kB}, false, true},
        {{4, 16 + S, kB}, false, true}},
       {0, 1, 2, 4, 5, 6, 7, 8}},
      {"B7 lost with the next GOP header: its I picture goes after P8, not in B7's place",
       6,
       {{{8, 8, kP}, false, true},
        {{6, 6, kB}, false, true},
        {{2, 14 + S}, false, true},
        {{0, 12 + S, kB}, false, true},
        {{1, 13 + S, kB}, false, true},
        {{5, 17 + S, kP}, false, true}},
       {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 14}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VideoRig rig;
    ASSERT_TRUE(rig.pes(Gop(1), 90000));
    const std::int64_t o = 93600;
    Bytes expectedEs;
    std::vector<Step> steps;
    for (std::size_t k = 0; k < c.before; ++k) {
      steps.push_back({kGopBeforeLoss[k], k == 0, true});
    }
    steps.insert(steps.end(), c.steps.begin(), c.steps.end());
    for (std::size_t k = 0; k < steps.size(); ++k) {
      Pic pic = steps[k].pic;
      pic.seed = static_cast<std::uint32_t>(k);
      const Bytes data = PesData(pic, steps[k].gopHeader);
      ASSERT_TRUE(rig.pes(data, o + pic.slot * 3600));
      // A left-out picture's headers stay.
      const std::size_t left = steps[k].kept ? 0 : PesData(pic, false).size();
      expectedEs.insert(expectedEs.end(), data.begin(), data.end() - static_cast<std::ptrdiff_t>(left));
    }
    ASSERT_TRUE(rig.finish());
    EXPECT_EQ(rig.es(), expectedEs);
    EXPECT_EQ(rig.emptyPesCount(), 0u) << "a left-out picture leaves no empty PES packet behind";
    std::vector<std::uint32_t> expected;
    for (std::int64_t place : c.places) expected.push_back(static_cast<std::uint32_t>(o + place * 3600));
    EXPECT_EQ(Sorted(rig.ptsList()), expected);
    EXPECT_EQ(ShownOrder(rig), expected);
  }
}

TEST(VideoHandlerMpeg2, HeldPictureGoesOutWhenTooLargeToHoldAndAtTheEnd) {
  // Too large to hold, the I picture is placed at once, as if no leading
  // picture followed; one that does would land on a place already written
  // and is left out. An I picture held when the input ends is written.
  VideoRig rig;
  ASSERT_TRUE(rig.pes(Gop(1), 90000));
  const std::int64_t o = 93600;
  ASSERT_TRUE(SendGopBeforeLoss(rig, o));
  const std::int64_t later = o + 6 * 3600 + 90000;
  Bytes big = SequenceHeader();
  Append(big, GopHeader());
  Append(big, Picture(2, Mpeg2VideoHandler::kHoldSize + 1000));
  Bytes expectedEs = GopBeforeLossBytes();
  Append(expectedEs, big);
  ASSERT_TRUE(rig.pes(big, later + 2 * 3600));
  ASSERT_TRUE(SendPictures(rig, later, {{1, 1, kB}}, false));
  ASSERT_TRUE(SendPictures(rig, later, {{5, 5, kP}, {3, 3, kB}, {4, 4, kB}}, false));
  for (const Pic& pic : {Pic{5, 5, kP}, Pic{3, 3, kB}, Pic{4, 4, kB}}) Append(expectedEs, PesData(pic, false));
  // The next GOP restarts too, and the input ends with its I picture held.
  const Bytes last = PesData({2, 2}, true);
  Append(expectedEs, last);
  ASSERT_TRUE(rig.pes(last, later + 6 * 3600 + 90000 + 2 * 3600));
  ASSERT_TRUE(rig.finish());
  EXPECT_EQ(rig.es(), expectedEs);
  const auto expected = Places(o, 11);
  EXPECT_EQ(Sorted(rig.ptsList()), expected);
  EXPECT_EQ(ShownOrder(rig), expected);
}

TEST(VideoHandlerMpeg2, HoldingAndLeavingOutSurviveAnyCutOfThePieces) {
  // A left-out B picture and a held I picture with one leading picture, cut
  // into pieces of every small size: same bytes, same time stamps.
  auto run = [](std::size_t piece) {
    VideoRig rig;
    EXPECT_TRUE(rig.pes(Gop(1), 90000));
    const std::int64_t o = 93600;
    EXPECT_TRUE(SendPictures(rig, o, {{2, 2}, {0, 0, kB}, {1, 1, kB}, {5, 5, kP}, {3, 3, kB}, {4, 4, kB}}, true,
                             piece));
    EXPECT_TRUE(SendPictures(rig, o, {{6, 6, kB, 3}}, false, piece));
    const std::int64_t later = o + 7 * 3600 + 90000;
    EXPECT_TRUE(SendPictures(rig, later, {{2, 2}, {1, 1, kB}, {5, 5, kP}, {3, 3, kB}, {4, 4, kB}}, true, piece));
    EXPECT_TRUE(SendPictures(rig, later + 6 * 3600, {{2, 2}, {0, 0, kB}, {1, 1, kB}}, true, piece));
    EXPECT_TRUE(rig.finish());
    return std::make_tuple(rig.es(), rig.video.timeRemoved(), rig.timing.videoTime);
  };
  const auto whole = run(184);
  // A second and the places of P8 (lost) and B6 (left out).
  EXPECT_EQ(std::get<1>(whole), 90000 + 7200);
  // Start codes split between pieces open no PES packet of their own, so
  // only the bytes and the time line are compared.
  for (std::size_t piece = 1; piece <= 13; ++piece) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(run(piece), whole);
  }
}

TEST(VideoHandlerMpeg2, GopEnteredInTheMiddleIsNotTakenForLostPictures) {
  // The time line is anchored at P5 of a GOP whose first pictures came
  // before the start: the next GOP must not be taken as three pictures late
  // (that would cut 120 ms of sound at the start for nothing).
  VideoRig rig;
  rig.timing.startFound = false;
  ASSERT_TRUE(SendPictures(rig, 90000, {{2, 2}, {0, 0}, {1, 1}}, true));
  rig.startAt(0);
  ASSERT_TRUE(SendPictures(rig, 90000, {{5, 5}, {3, 3}, {4, 4}, {8, 8}, {6, 6}, {7, 7}}, false));
  ASSERT_TRUE(SendPictures(rig, 90000 + 9 * 3600, {{2, 2}, {0, 0}, {1, 1}}, true));
  EXPECT_EQ(rig.video.timeRemoved(), 0);
  EXPECT_EQ(rig.timing.startBase, 0u);
}

TEST(VideoHandlerMpeg2, PesTimeStampBelongsToItsFirstPicture) {
  // Two pictures in one PES with one PTS: the second must not be taken as a
  // jump (it would cut 3600 ticks of audio for nothing).
  VideoRig rig;
  Bytes b = SequenceHeader();
  Append(b, GopHeader());
  Append(b, Picture(0));
  Append(b, Picture(1));
  ASSERT_TRUE(rig.pes(b, 90000));
  EXPECT_EQ(rig.timing.startBase, 0u);
  EXPECT_EQ(rig.video.timeRemoved(), 0);
}

TEST(VideoHandlerMpeg2, StartCodesSplitAcrossPiecesAreRebuilt) {
  // The same stream, cut everywhere: the output bytes must not change.
  Bytes stream = Gop(3);
  Append(stream, Bytes{0x00, 0x00, 0x00, 0x00});  // zero stuffing before a start code
  Append(stream, Gop(4));
  Append(stream, Gop(2));
  VideoRig whole;
  ASSERT_TRUE(whole.pes(Gop(3), 90000));
  ASSERT_TRUE(whole.pes(stream, 90000 + 3 * 3600, stream.size()));
  ASSERT_TRUE(whole.mux.FinishOutput(true));
  EXPECT_EQ(whole.es(), stream);

  std::mt19937 random(11);
  for (int round = 0; round < 30; ++round) {
    VideoRig rig;
    ASSERT_TRUE(rig.pes(Gop(3), 90000));
    for (std::size_t pos = 0; pos < stream.size();) {
      const std::size_t n = std::min<std::size_t>(1 + random() % 7, stream.size() - pos);
      const auto bytes = std::span(stream).subspan(pos, n);
      ASSERT_TRUE(pos == 0 ? rig.video.HandleVideo(bytes, PesStamp{90000 + 3 * 3600, true})
                           : rig.video.HandleVideo(bytes));
      pos += n;
    }
    ASSERT_TRUE(rig.mux.FinishOutput(true));
    ASSERT_EQ(rig.es(), stream) << "round " << round;
  }
}

TEST(StartCodeScanner, SkipStopsAtTheFirstZeroPairOrAFinalZero) {
  // Against the definition, for every length around the block size and
  // every start, with zeros dense enough to fall on block edges.
  std::mt19937 random(5);
  for (std::size_t n = 0; n <= 70; ++n) {
    for (int round = 0; round < 20; ++round) {
      Bytes b(n);
      for (auto& x : b) x = static_cast<std::uint8_t>(random() % 3 == 0 ? 0 : 1 + random() % 255);
      for (std::size_t from = 0; from <= n; ++from) {
        std::size_t expect = from;
        while (expect < n && !(b[expect] == 0 && (expect + 1 == n || b[expect + 1] == 0))) ++expect;
        ASSERT_EQ(StartCodeScanner::NextZeroPair(b.data(), from, n), expect) << n << " " << from;
      }
    }
  }
}

TEST(VideoHandlerMpeg2, StraddlingSequenceHeaderStartsNoNewPes) {
  // How many PES packets of the output begin with a sequence header? The
  // first does, where output starts.
  auto headerOpensPes = [](bool split) {
    VideoRig rig;
    EXPECT_TRUE(rig.pes(Gop(2), 90000));
    EXPECT_TRUE(rig.pes(Gop(1), 90000 + 7200));  // output on from here
    Bytes tail = Picture(1);
    tail.insert(tail.end(), {0x00, 0x00});
    const Bytes next = Gop(2);
    if (split) {
      EXPECT_TRUE(rig.video.HandleVideo(tail));
      EXPECT_TRUE(rig.video.HandleVideo(std::span(next).subspan(2)));
    } else {
      tail.insert(tail.end(), next.begin() + 2, next.end());
      EXPECT_TRUE(rig.video.HandleVideo(tail));
    }
    EXPECT_TRUE(rig.mux.FinishOutput(true));
    int opens = 0;
    for (const auto& p : rig.sink.packets) {
      if (p[1] != 0x50 || p[2] != 0x11) continue;
      const std::size_t s = (p[3] & 0x20) ? 5u + p[4] : 4u;
      const std::size_t payload = s + 9 + p[s + 8];
      opens += p[payload + 3] == 0xB3;
    }
    Bytes expected = Gop(1);
    Append(expected, Picture(1));
    Append(expected, next);
    EXPECT_EQ(rig.es(), expected);
    return opens;
  };
  EXPECT_EQ(headerOpensPes(false), 2);
  EXPECT_EQ(headerOpensPes(true), 1);
}

// H.264 NAL units with 4-byte start codes.
Bytes Nal(std::uint8_t header, std::size_t bytes, std::uint8_t fill = 0x5A) {
  Bytes b{0x00, 0x00, 0x00, 0x01, header};
  b.insert(b.end(), bytes, fill);
  return b;
}
Bytes Delimiter() { return {0x00, 0x00, 0x00, 0x01, 0x09, 0xF0}; }
constexpr std::uint8_t kNalSeiRecoveryPoint = 6;  // SEI payload type
Bytes IdrUnit(std::size_t sliceBytes = 300) {
  Bytes b = Delimiter();
  Append(b, Nal(0x67, 12));
  Append(b, Nal(0x68, 4));
  Append(b, Nal(0x65, sliceBytes));
  return b;
}
Bytes PUnit(std::size_t sliceBytes = 200) {
  Bytes b = Delimiter();
  Append(b, Nal(0x41, sliceBytes));
  return b;
}

TEST(VideoHandlerH264, OutputStartsWithTheAccessUnitThatAnchorsTheTimeLine) {
  // Starting after it would leave every picture up to the next IDR without
  // its parameter sets and reference.
  VideoRig rig(OutputFormat::Ts, true);
  rig.idr.idrSeen = true;  // the scan saw IDR pictures
  Bytes stream;
  ASSERT_TRUE(rig.pes(PUnit(), 86400));  // before any IDR: not written
  ASSERT_TRUE(rig.pes(IdrUnit(), 90000));
  Append(stream, IdrUnit());
  for (int k = 1; k < 5; ++k) {
    ASSERT_TRUE(rig.pes(PUnit(), 90000 + 3600 * k));
    Append(stream, PUnit());
  }
  ASSERT_TRUE(rig.mux.FinishOutput(rig.video.outputOn()));
  // The first zero of a 4-byte start code belongs to the data before it.
  EXPECT_EQ(rig.es(), Bytes(stream.begin() + 1, stream.end()));
  const std::vector<std::uint32_t> expected{90000, 93600, 97200, 100800, 104400};
  EXPECT_EQ(rig.ptsList(), expected);
  EXPECT_EQ(rig.timing.videoTime, 90000u) << "up to 255 slices after an IDR do not raise it";
}

TEST(VideoHandlerH264, AccessUnitsWithoutDelimitersBeginAtTheirFirstNalUnit) {
  // A slice begins a picture when its first byte starts with a 1 bit
  // (first_mb_in_slice 0); parameter sets and SEI after a slice begin the next.
  auto slice = [](std::uint8_t header, std::uint8_t first) {
    Bytes b = Nal(header, 150);
    b[5] = first;
    return b;
  };
  std::vector<Bytes> units(4);
  Append(units[0], Nal(0x67, 12));
  Append(units[0], Nal(0x68, 4));
  Append(units[0], slice(0x65, 0x88));
  Append(units[0], slice(0x65, 0x40));  // the same picture's second slice
  Append(units[1], slice(0x41, 0x9A));
  Append(units[1], slice(0x41, 0x00));  // first_mb_in_slice 255 or more
  Append(units[2], Nal(0x06, 8));
  Append(units[2], slice(0x41, 0xE0));
  Append(units[3], slice(0x41, 0x9A));
  for (const std::size_t piece : {184u, 1u, 5u, 153u}) {
    VideoRig rig(OutputFormat::Ts, true);
    rig.idr.idrSeen = true;
    Bytes stream;
    for (std::size_t k = 0; k < units.size(); ++k) {
      ASSERT_TRUE(rig.pes(units[k], 90000 + 3600 * k, piece));
      Append(stream, units[k]);
    }
    ASSERT_TRUE(rig.finish());
    EXPECT_EQ(rig.es(), Bytes(stream.begin() + 1, stream.end())) << piece;
    const std::vector<std::uint32_t> expected{90000, 93600, 97200, 100800};
    EXPECT_EQ(rig.ptsList(), expected) << piece;
  }
}

TEST(VideoHandlerH264, IdrBeforeTheFirstAudioStampGoesOutWhenTheInputEnds) {
  // A short recording whose video all comes before its first audio packet.
  VideoRig rig(OutputFormat::Ts, true);
  rig.timing.startFound = false;
  Bytes stream = IdrUnit();
  ASSERT_TRUE(rig.pes(IdrUnit(), 90000));
  Append(stream, PUnit());
  ASSERT_TRUE(rig.pes(PUnit(), 93600));
  rig.startAt(0);
  ASSERT_TRUE(rig.finish());
  EXPECT_EQ(rig.es(), Bytes(stream.begin() + 1, stream.end()));
  const std::vector<std::uint32_t> expected{90000, 93600};
  EXPECT_EQ(rig.ptsList(), expected);
}

TEST(VideoHandlerH264, TimedAccessUnitStartsANewPack) {
  for (const std::uint32_t freeBytes : {100u, 5u}) {
    VideoRig rig(OutputFormat::ProgramStream, true);
    // The first access unit leaves `freeBytes` of the 2020-byte pack payload.
    Bytes first = IdrUnit(0);
    const std::size_t slice = 2020 - freeBytes - first.size();
    first = IdrUnit(slice + 1);
    first.erase(first.begin());  // a 3-byte start code: the whole unit is written
    ASSERT_EQ(first.size(), 2020 - freeBytes);
    ASSERT_TRUE(rig.pes(first, 90000));
    Bytes second{0x00, 0x00, 0x01, 0x09, 0xF0};  // a 3-byte start code: no zero joins the pack
    Append(second, Nal(0x41, 100));
    ASSERT_TRUE(rig.pes(second, 93600));
    ASSERT_TRUE(rig.mux.FinishOutput(true));
    std::vector<Bytes> packs;
    for (const auto& p : rig.sink.packets) {
      if (p.size() == 2048 && p[17] == 0xE0) packs.push_back(p);
    }
    ASSERT_EQ(packs.size(), 2u);
    const Bytes tail(packs[0].end() - freeBytes, packs[0].end());
    Bytes expected;
    if (freeBytes >= 6) {
      expected = {0x00, 0x00, 0x01, 0x0C};
      expected.insert(expected.end(), freeBytes - 5, 0xFF);
      expected.push_back(0x00);
    } else {
      expected.assign(freeBytes, 0x00);
    }
    EXPECT_EQ(tail, expected) << freeBytes << " free bytes";
    EXPECT_EQ(packs[1][21] & 0x80, 0x80) << "the next pack carries the PTS";
    EXPECT_EQ(Bytes(packs[1].begin() + 28, packs[1].begin() + 33), Bytes(second.begin(), second.begin() + 5));
  }
}

TEST(VideoHandlerH264, FillerDataIsCutToItsHeader) {
  VideoRig rig(OutputFormat::Ts, true);
  rig.idr.idrSeen = true;
  ASSERT_TRUE(rig.pes(IdrUnit(), 90000));
  // A filler NAL unit over several pieces; only the bytes that share a piece
  // with the next start code survive.
  Bytes unit = PUnit(50);
  Append(unit, Nal(0x0C, 400, 0xFF));
  Append(unit, PUnit(50));
  ASSERT_TRUE(rig.pes(unit, 93600, 184));
  ASSERT_TRUE(rig.mux.FinishOutput(true));
  const Bytes out = rig.es();
  const Bytes idr = IdrUnit();
  ASSERT_GT(out.size(), idr.size());
  // The IDR unit is written from its 3-byte start code on.
  const Bytes rest(out.begin() + static_cast<std::ptrdiff_t>(idr.size() - 1), out.end());
  // Pieces: [0,184) holds the P unit, the filler header and 75 filler bytes;
  // [184,368) is filler only; [368,...) has the last filler bytes and the next unit.
  const std::size_t fillerStart = PUnit(50).size();
  Bytes expected(unit.begin(), unit.begin() + static_cast<std::ptrdiff_t>(fillerStart + 5));
  expected.insert(expected.end(), unit.begin() + 368, unit.end());
  EXPECT_EQ(rest, expected);
}

TEST(VideoHandlerH264, DecodeTimeGapsAreClosedLikeLostPictures) {
  VideoRig rig(OutputFormat::Ts, true);
  std::int64_t t = 90000;
  ASSERT_TRUE(rig.pes(IdrUnit(), t, 184, t - 3600));
  for (int k = 0; k < 10; ++k) {
    t += 3600;
    ASSERT_TRUE(rig.pes(PUnit(), t, 184, t - 3600));
  }
  // Three seconds lost in reception, the continuity counters still in
  // step: the P picture after the gap leans on lost ones and is left out,
  // output resumes at the IDR after it.
  t += 3600 + 270000;
  for (int k = 0; k < 5; ++k) {
    ASSERT_TRUE(rig.pes(k == 1 ? IdrUnit() : PUnit(), t, 184, t - 3600));
    t += 3600;
  }
  EXPECT_EQ(rig.timing.startBase, 270000u);
  const auto pts = rig.ptsList();
  ASSERT_EQ(pts.size(), 15u);
  for (std::size_t k = 1; k < pts.size(); ++k) EXPECT_EQ(pts[k] - pts[k - 1], k == 11 ? 7200u : 3600u) << k;

  // A jump of more than 10 seconds is kept as the input has it.
  t += 900000 + 3600;
  ASSERT_TRUE(rig.pes(PUnit(), t, 184, t - 3600));
  EXPECT_EQ(rig.timing.startBase, 270000u);
  EXPECT_FALSE(rig.video.stopped());
}

TEST(VideoHandlerH264, AfterLostPacketsOutputResumesAtARandomAccessPoint) {
  // The access unit cut by the loss ends there; P pictures after it lean on
  // lost ones and are left out up to an IDR access unit or one that carries
  // a recovery point SEI.
  for (const bool idr : {true, false}) {
    VideoRig rig(OutputFormat::Ts, true);
    rig.idr.idrSeen = true;
    Bytes stream = IdrUnit();
    ASSERT_TRUE(rig.pes(IdrUnit(), 90000));
    const Bytes cut = PUnit();
    ASSERT_TRUE(rig.pes(Bytes(cut.begin(), cut.begin() + 40), 93600));
    Append(stream, Bytes(cut.begin(), cut.begin() + 40));
    rig.video.Interrupted();
    ASSERT_TRUE(rig.pes(PUnit(), 97200));
    ASSERT_TRUE(rig.pes(PUnit(), 100800));
    Bytes point = idr ? IdrUnit() : Delimiter();
    if (!idr) {
      Append(point, Nal(0x06, 1, kNalSeiRecoveryPoint));
      Append(point, Nal(0x41, 200));
    }
    ASSERT_TRUE(rig.pes(point, 104400));
    ASSERT_TRUE(rig.pes(PUnit(), 108000));
    // The first zero of its start code went with the units left out.
    Append(stream, Bytes(point.begin() + 1, point.end()));
    Append(stream, PUnit());
    ASSERT_TRUE(rig.mux.FinishOutput(rig.video.outputOn()));
    EXPECT_EQ(rig.es(), Bytes(stream.begin() + 1, stream.end())) << (idr ? "IDR" : "recovery point");
    EXPECT_EQ(rig.ptsList(), (std::vector<std::uint32_t>{90000, 93600, 104400, 108000}));
  }
}

TEST(VideoHandlerH264, WhereNoRandomAccessPointFollowsSoonOutputResumesAfterAboutASecond) {
  // Pictures without IDR or recovery point SEI after the loss (a stream with
  // rare IDRs or periodic intra refresh): waiting for one would cost
  // seconds of programme. About a second of units (25 where the rate is not
  // known) is left out, then the units are kept, damaged references and all.
  VideoRig rig(OutputFormat::Ts, true);
  ASSERT_TRUE(rig.pes(IdrUnit(), 90000));
  rig.video.Interrupted();
  constexpr std::uint32_t kUnits = 60;
  constexpr std::uint32_t kWait = 25;
  for (std::uint32_t k = 1; k <= kUnits; ++k) ASSERT_TRUE(rig.pes(PUnit(), 90000 + 3600 * k));
  ASSERT_TRUE(rig.finish());
  const auto pts = rig.ptsList();
  ASSERT_EQ(pts.size(), 1u + kUnits - kWait);
  EXPECT_EQ(pts[1], 90000u + 3600 * (kWait + 1));
  EXPECT_FALSE(VideoHandler::ResumeAfterLoss(false, 12, 3600)) << "half a second at 25 fps";
  EXPECT_TRUE(VideoHandler::ResumeAfterLoss(false, 31, 3003)) << "just over a second at 29.97 fps";
  EXPECT_TRUE(VideoHandler::ResumeAfterLoss(true, 1, 3600)) << "a random-access point at once";
}

// HEVC NAL units: a two-byte header (type << 1, then temporal id 1).
Bytes HevcNal(std::uint8_t type, std::size_t bytes, std::uint8_t fill = 0x5A) {
  Bytes b{0x00, 0x00, 0x00, 0x01, static_cast<std::uint8_t>(type << 1), 0x01};
  b.insert(b.end(), bytes, fill);
  return b;
}
constexpr std::uint8_t kHevcTrail = 1, kHevcRasl = 8, kHevcIdr = 19, kHevcCra = 21;
// An access unit: delimiter, parameter sets before a random-access picture,
// and one slice whose first byte has first_slice_segment_in_pic_flag set.
Bytes HevcUnit(std::uint8_t type, bool delimiter = true, std::size_t sliceBytes = 250) {
  Bytes b;
  if (delimiter) b = {0x00, 0x00, 0x00, 0x01, 35 << 1, 0x01, 0x50};
  if (type >= 16) {
    Append(b, HevcNal(32, 10));
    Append(b, HevcNal(33, 20));
    Append(b, HevcNal(34, 5));
  }
  Append(b, HevcNal(type, sliceBytes, 0xA5));
  return b;
}

TEST(VideoHandlerHevc, OutputStartsAtACraAndLeavesOutItsLeadingPictures) {
  // RASL pictures lean on pictures before the CRA, which the output does not
  // have; RADL and trailing pictures do not. Also without delimiters, where
  // the slice's first flag begins the access unit, in any cut of the pieces.
  for (const bool delimiters : {true, false}) {
    for (const std::size_t piece : {184u, 7u, 1u}) {
      VideoRig rig(OutputFormat::Ts, Codec::Hevc);
      rig.idr.idrSeen = true;
      ASSERT_TRUE(rig.pes(HevcUnit(kHevcTrail, delimiters), 86400, piece));  // before the CRA
      ASSERT_TRUE(rig.pes(HevcUnit(kHevcCra, delimiters), 100800, piece, 90000));
      ASSERT_TRUE(rig.pes(HevcUnit(kHevcRasl, delimiters), 93600, piece, 93600));
      ASSERT_TRUE(rig.pes(HevcUnit(kHevcRasl, delimiters), 97200, piece, 97200));
      ASSERT_TRUE(rig.pes(HevcUnit(kHevcTrail, delimiters), 115200, piece, 100800));
      ASSERT_TRUE(rig.pes(HevcUnit(kHevcRasl + 1, delimiters), 108000, piece, 104400));  // after a trailing one: kept
      ASSERT_TRUE(rig.mux.FinishOutput(rig.video.outputOn()));
      Bytes stream = HevcUnit(kHevcCra, delimiters);
      Append(stream, HevcUnit(kHevcTrail, delimiters));
      Append(stream, HevcUnit(kHevcRasl + 1, delimiters));
      const std::string where = (delimiters ? "delimiters, piece " : "no delimiters, piece ") + std::to_string(piece);
      EXPECT_EQ(rig.es(), Bytes(stream.begin() + 1, stream.end())) << where;
      EXPECT_EQ(rig.ptsList(), (std::vector<std::uint32_t>{100800, 115200, 108000})) << where;
    }
  }
}

TEST(VideoHandlerHevc, AfterLostPacketsOutputResumesAtTheNextRandomAccessPicture) {
  // Trailing pictures after the loss wait for an IDR, or a CRA whose RASL
  // pictures are left out too; a recovery point SEI (prefix SEI) also counts.
  for (const std::uint8_t resume : {kHevcIdr, kHevcCra, kHevcTrail}) {
    VideoRig rig(OutputFormat::Ts, Codec::Hevc);
    rig.idr.idrSeen = true;
    Bytes stream = HevcUnit(kHevcIdr);
    ASSERT_TRUE(rig.pes(HevcUnit(kHevcIdr), 90000));
    ASSERT_TRUE(rig.pes(HevcUnit(kHevcTrail), 93600));
    Append(stream, HevcUnit(kHevcTrail));
    rig.video.Interrupted();
    ASSERT_TRUE(rig.pes(HevcUnit(kHevcTrail), 97200));
    Bytes point = HevcUnit(resume);
    if (resume == kHevcTrail) {
      point = {0x00, 0x00, 0x00, 0x01, 35 << 1, 0x01, 0x50};
      Append(point, HevcNal(39, 1, kNalSeiRecoveryPoint));
      Append(point, HevcNal(kHevcTrail, 250, 0xA5));
    }
    ASSERT_TRUE(rig.pes(point, 108000, 184, 100800));
    ASSERT_TRUE(rig.pes(HevcUnit(kHevcRasl), 104400, 184, 104400));
    ASSERT_TRUE(rig.pes(HevcUnit(kHevcTrail), 111600, 184, 108000));
    Append(stream, Bytes(point.begin() + 1, point.end()));
    std::vector<std::uint32_t> pts{90000, 93600, 108000};
    if (resume != kHevcCra) {
      Append(stream, HevcUnit(kHevcRasl));
      pts.push_back(104400);
    }
    Append(stream, HevcUnit(kHevcTrail));
    pts.push_back(111600);
    ASSERT_TRUE(rig.mux.FinishOutput(rig.video.outputOn()));
    EXPECT_EQ(rig.es(), Bytes(stream.begin() + 1, stream.end())) << int{resume};
    EXPECT_EQ(rig.ptsList(), pts) << int{resume};
  }
}

TEST(VideoHandler, SurvivesRandomBytes) {
  std::mt19937 random(3);
  for (const Codec codec : {Codec::Mpeg2Video, Codec::H264, Codec::Hevc}) {
    for (const auto format : {OutputFormat::ProgramStream, OutputFormat::Ts}) {
      VideoRig rig(format, codec);
      Bytes piece(184);
      for (int k = 0; k < 3000 && !rig.video.stopped(); ++k) {
        for (auto& b : piece) b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random());
        piece[random() % 180 + 2] = 1;
        const std::size_t n = random() % 185;
        ASSERT_TRUE(rig.pes(Bytes(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n)),
                            k % 2 ? std::int64_t(90000 + 3600 * k) : -1, 184,
                            k % 4 == 1 ? std::int64_t(90000 + 3000 * k) : -1));
      }
      ASSERT_TRUE(rig.mux.FinishOutput(rig.video.outputOn()));
      for (const auto& p : rig.sink.packets) ASSERT_EQ(p.size(), format == OutputFormat::Ts ? 188u : 2048u);
    }
  }
}

}  // namespace
}  // namespace kelvor::test
