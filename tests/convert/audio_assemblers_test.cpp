// The MPEG audio and AC-3 frame assemblers: header checks, frame lengths,
// the drop/repeat rule around half a frame, and hostile input.
#include <gtest/gtest.h>

#include <random>

#include "convert/aac_assembler.h"
#include "convert/mpeg_audio_frame_sizes.h"
#include "convert_test_support.h"

namespace kelvor::test {
namespace {

// A frame with the given header bytes, filled up to `length`.
std::vector<std::uint8_t> Frame(std::initializer_list<std::uint8_t> header, std::size_t length) {
  std::vector<std::uint8_t> f(header);
  while (f.size() < length) f.push_back(static_cast<std::uint8_t>(0x10 + f.size() % 7));
  return f;
}

struct MpegAudioRig : HandlerRig {
  MpegAudioRig() {
    AddMpegTrack(tracks, 0x100);
    start(OutputFormat::Ts);
    startAt(0);
  }
  // Hands a timed (pts >= 0) or untimed piece to track 0.
  bool feed(const std::vector<std::uint8_t>& bytes, std::int64_t pts = -1) {
    if (pts < 0) return mpeg.ContinuePes(bytes, 0);
    return mpeg.StartPes(bytes, 0, PesStamp{static_cast<std::uint32_t>(pts), true});
  }
  // Audio PES packets written so far (TS output: one per frame).
  std::size_t framesOut() const {
    std::size_t n = 0;
    for (const auto& p : sink.packets) n += p[1] == 0x51 && p[2] == 0x00;
    return n;
  }
};

TEST(MpegAudioAssembler, FrameLengthComesFromLayerBitRateSamplingRateAndPadding) {
  struct Case {
    std::uint8_t byte1, byte2;
    std::uint32_t bytes;
  };
  for (const Case& c : {Case{0xFD, 0x84, 384},     // Layer II 128k 48 kHz
                        Case{0xFD, 0xE4, 1152},    // Layer II 384k 48 kHz
                        Case{0xFD, 0xA0, 626},     // Layer II 192k 44.1 kHz
                        Case{0xFD, 0xA2, 627},     // the same, padded
                        Case{0xFD, 0xEA, 1729},    // Layer II 384k 32 kHz, padded: the longest
                        Case{0xFF, 0x40, 136},     // Layer I 128k 44.1 kHz: 34 slots of 4 bytes
                        Case{0xFF, 0x42, 140},     // padded: one more slot
                        Case{0xFF, 0xE8, 672},     // Layer I 448k 32 kHz
                        Case{0xFD, 0x8C, 0},       // reserved sampling rate
                        Case{0xFB, 0x84, 0}}) {    // Layer III
    EXPECT_EQ(Mpeg1FrameBytes(c.byte1, c.byte2), c.bytes) << std::hex << +c.byte1 << " " << +c.byte2;
  }
  EXPECT_EQ(kMaxMpegAudioFrameBytes, 1729u);

  MpegAudioRig rig;
  // FF FD 84: Layer II, 128 kbit/s: 384 bytes; two frames back to back.
  auto a = Frame({0xFF, 0xFD, 0x84, 0x00}, 384);
  auto b = Frame({0xFF, 0xFD, 0x84, 0x00}, 384);
  a.insert(a.end(), b.begin(), b.end());
  ASSERT_TRUE(rig.feed(a, 9000));
  EXPECT_EQ(rig.framesOut(), 2u);
  const auto es = TsElementaryOf(rig.sink, 0x1100);
  EXPECT_EQ(es, a);
}

TEST(MpegAudioAssembler, RefusesHeadersItCannotCut) {
  for (std::uint8_t byte2 : {std::uint8_t{0xF4}, std::uint8_t{0x04}}) {  // index 15, free format
    MpegAudioRig rig;
    ASSERT_TRUE(rig.feed(Frame({0xFF, 0xFD, byte2}, 600), 9000));
    EXPECT_EQ(rig.framesOut(), 0u);
  }
  MpegAudioRig layer3;
  ASSERT_TRUE(layer3.feed(Frame({0xFF, 0xFB, 0x84}, 600), 9000));
  EXPECT_EQ(layer3.framesOut(), 0u);

  // A second 0xFF restarts the sync: the frame starts there.
  MpegAudioRig resync;
  auto f = Frame({0xFF, 0xFF, 0xFD, 0x84}, 385);
  ASSERT_TRUE(resync.feed(f, 9000));
  ASSERT_EQ(resync.framesOut(), 1u);
  EXPECT_EQ(TsElementaryOf(resync.sink, 0x1100), std::vector<std::uint8_t>(f.begin() + 1, f.end()));
}

// Layer I without CRC has 0xFF as its second header byte: on a Layer I
// track that is not taken for a new sync byte.
TEST(MpegAudioAssembler, CutsLayerOneFramesWithoutCrc) {
  MpegAudioRig rig;
  rig.mpeg.SetLayer(0, 1);
  auto a = Frame({0xFF, 0xFF, 0x42, 0x00}, 140);  // 128k 44.1 kHz, padded
  const auto b = Frame({0xFF, 0xFF, 0x40, 0x00}, 136);
  a.insert(a.end(), b.begin(), b.end());
  a.insert(a.end(), {0xFF, 0xFF});  // a sync run before the next frame
  a.insert(a.end(), b.begin(), b.end());
  ASSERT_TRUE(rig.feed(a, 9000));
  EXPECT_EQ(rig.framesOut(), 3u);
}

// 1152 samples at 44.1 kHz last 2351.0204... ticks: over an hour of frames
// the track's time is exact to the tick, and the half-frame rule uses the
// real frame (late by 1175.5 ticks or more means a repeat).
TEST(MpegAudioAssembler, FramesOf44100HzKeepExactTime) {
  MpegAudioRig rig;
  const auto f = Frame({0xFF, 0xFD, 0x40, 0x00}, Mpeg1FrameBytes(0xFD, 0x40));  // 64k 44.1 kHz: 208 bytes
  ASSERT_EQ(f.size(), 208u);
  ASSERT_TRUE(rig.feed(f, 9000));
  for (int k = 1; k < 1531; ++k) ASSERT_TRUE(rig.feed(f));  // 1531 frames: 40.0 s
  EXPECT_EQ(rig.mux.TrackOutTime(0), 9000u - 0u + 1531ull * 1152 * 90000 / 44100);
  const std::uint32_t at = rig.mux.TrackOutTime(0);
  const std::size_t before = rig.framesOut();
  ASSERT_TRUE(rig.feed(f, at + 1175));  // 1175 late: once
  EXPECT_EQ(rig.framesOut(), before + 1);
  const std::uint32_t next = rig.mux.TrackOutTime(0);
  ASSERT_TRUE(rig.feed(f, next + 1176));  // 1176 late: repeated
  EXPECT_EQ(rig.framesOut(), before + 3);
}

// The late frame goes out last, at its own time; repeats of the frame before
// it fill the gap, so that what it holds is not heard early.
std::vector<std::uint8_t> GapFilled(const std::vector<std::uint8_t>& before, const std::vector<std::uint8_t>& late,
                                    std::size_t written) {
  std::vector<std::uint8_t> out = before;
  for (std::size_t k = 1; k < written; ++k) out.insert(out.end(), before.begin(), before.end());
  if (written > 0) out.insert(out.end(), late.begin(), late.end());
  return out;
}

TEST(MpegAudioAssembler, RepeatsLateFramesAndDropsEarlyOnes) {
  const auto frame = Frame({0xFF, 0xFD, 0x84}, 384);
  auto second = frame;
  second.back() = 0x77;
  struct Case {
    std::int32_t offset;  // PTS of the second frame minus where the output is
    std::size_t written;  // frames for it
  };
  // Two frames missing, with the picture near: both filled at once.
  for (const Case c : {Case{1080, 2}, Case{1079, 1}, Case{-1080, 1}, Case{-1081, 0}, Case{4320, 3}}) {
    MpegAudioRig rig;
    rig.timing.videoTime = 100000;
    ASSERT_TRUE(rig.feed(frame, 100000));  // first timed frame: output time 100000
    const std::int64_t pts = 100000 + 2160 + c.offset;
    ASSERT_TRUE(rig.feed(second, pts));
    EXPECT_EQ(rig.framesOut(), 1 + c.written) << "offset " << c.offset;
    EXPECT_EQ(TsElementaryOf(rig.sink, 0x1100), GapFilled(frame, second, c.written)) << "offset " << c.offset;
  }
}

TEST(MpegAudioAssembler, FramesSpanAnyNumberOfPiecesAndUntimedFramesGoOutOnce) {
  MpegAudioRig rig;
  auto stream = Frame({0xFF, 0xFD, 0x84}, 384);
  for (int k = 0; k < 3; ++k) {
    auto f = Frame({0xFF, 0xFD, 0x84}, 384);
    stream.insert(stream.end(), f.begin(), f.end());
  }
  for (std::size_t pos = 0; pos < stream.size(); pos += 1 + pos % 5) {
    const std::size_t end = std::min(stream.size(), pos + 1 + pos % 5);
    ASSERT_TRUE(rig.feed({stream.begin() + static_cast<std::ptrdiff_t>(pos), stream.begin() + static_cast<std::ptrdiff_t>(end)},
                         pos == 0 ? 9000 : -1));
  }
  EXPECT_EQ(rig.framesOut(), 4u);
  EXPECT_EQ(TsElementaryOf(rig.sink, 0x1100), stream);
}

// AAC in ADTS: a frame lasts 1024 samples at the header's rate (24 kHz,
// the core of an HE-AAC stream: 3840 ticks), and is cut by the header's
// length from pieces of any size; a frame two frames late follows a
// repeat of the one before, one more than half a frame early is dropped.
TEST(AacAssembler, AdtsFramesLastTheirCoreRateAndLateOnesFollowRepeats) {
  MpegAudioRig rig;
  rig.tracks.audio[0].codec = Codec::AacAdts;
  AacAssembler aac{rig.timing, rig.mux};
  rig.start(OutputFormat::Ts);
  rig.startAt(0);
  aac.Reset();
  constexpr std::size_t kLength = 200;
  const auto adts = [](std::uint8_t fill) {
    auto f = Frame({0xFF, 0xF1, 0x58, 0x80, static_cast<std::uint8_t>(kLength >> 3),
                    static_cast<std::uint8_t>(((kLength & 7) << 5) | 0x1F), 0xFC},
                   kLength);
    f.back() = fill;
    return f;
  };
  auto two = adts(1);
  const auto second = adts(2);
  two.insert(two.end(), second.begin(), second.end());
  ASSERT_TRUE(aac.StartPes(std::span(two).first(5), 0, PesStamp{9000, true}));
  ASSERT_TRUE(aac.ContinuePes(std::span(two).subspan(5), 0));
  EXPECT_EQ(rig.mux.TrackOutTime(0), 9000u + 2 * 3840);
  EXPECT_EQ(rig.framesOut(), 2u);
  const auto late = adts(3);
  ASSERT_TRUE(aac.StartPes(late, 0, PesStamp{9000 + 3 * 3840, true}));  // one frame missing
  EXPECT_EQ(rig.framesOut(), 4u);
  EXPECT_EQ(TsElementaryOf(rig.sink, 0x1100).size(), 4 * kLength);
  ASSERT_TRUE(aac.StartPes(adts(4), 0, PesStamp{9000 + 4 * 3840 - 1921, true}));  // early
  EXPECT_EQ(rig.framesOut(), 4u);
}

struct Ac3Rig : HandlerRig {
  explicit Ac3Rig(bool convert = false) {
    AddPrivateTrack(tracks, 0x200);
    start(OutputFormat::Ts, convert);
    startAt(0);
  }
  bool feed(const std::vector<std::uint8_t>& bytes, std::int64_t pts = -1) {
    if (pts < 0) return ac3.ContinuePes(bytes, 0);
    return ac3.StartPes(bytes, 0, PesStamp{static_cast<std::uint32_t>(pts), true});
  }
  std::size_t framesOut() const {
    std::size_t n = 0;
    for (const auto& p : sink.packets) n += p[1] == 0x51 && p[2] == 0x00;
    return n;
  }
};

// AC-3 header: sync, crc1, fscod/frmsizecod byte, bsid 8.
std::vector<std::uint8_t> Ac3Frame(std::uint8_t byte4, std::size_t length) {
  return Frame({0x0B, 0x77, 0x12, 0x34, byte4, 0x40}, length);
}

TEST(Ac3Assembler, FrameLengthsFollowTheHeader) {
  Ac3Rig rig;
  const auto f = Ac3Frame(0x1C, 1536);  // frmsizecod 28: 448 kbit/s
  ASSERT_TRUE(rig.feed(f, 9000));
  EXPECT_EQ(rig.framesOut(), 1u);
  EXPECT_EQ(TsElementaryOf(rig.sink, 0x1100), f);

  Ac3Rig other;  // fscod 1 (44.1 kHz)
  ASSERT_TRUE(other.feed(Ac3Frame(0x5C, 1536), 9000));
  EXPECT_EQ(other.framesOut(), 0u);

  Ac3Rig tooBig;  // frmsizecod 38 is past the table
  ASSERT_TRUE(tooBig.feed(Ac3Frame(0x26, 1536), 9000));
  EXPECT_EQ(tooBig.framesOut(), 0u);
}

TEST(Ac3Assembler, EnhancedFramesGoToTheConverter) {
  Ac3Rig rig;
  // bsid 16, strmtyp 0, substream 0, frmsiz 767: 1536 bytes.
  const auto f = Frame({0x0B, 0x77, 0x02, 0xFF, 0x00, 0x80}, 1536);
  ASSERT_TRUE(rig.feed(f, 9000));
  ASSERT_EQ(rig.converter.frames.size(), 1u);
  EXPECT_EQ(rig.converter.frames[0], f);
  EXPECT_TRUE(rig.converter.enhanced[0]);
  EXPECT_EQ(rig.framesOut(), 0u);

  // A dependent substream (strmtyp 1) is refused; bsid 10 is E-AC-3.
  ASSERT_TRUE(rig.feed(Frame({0x0B, 0x77, 0x42, 0xFF, 0x00, 0x80}, 1536)));
  EXPECT_EQ(rig.converter.frames.size(), 1u);
  ASSERT_TRUE(rig.feed(Frame({0x0B, 0x77, 0x02, 0xFF, 0x00, 0x50}, 1536)));
  EXPECT_EQ(rig.converter.frames.size(), 2u);

  // A frame size smaller than the header itself is refused, not collected
  // with a negative byte count.
  ASSERT_TRUE(rig.feed(Frame({0x0B, 0x77, 0x00, 0x01, 0x00, 0x80}, 64)));
  EXPECT_EQ(rig.converter.frames.size(), 2u);
}

TEST(Ac3Assembler, RepeatsLateFramesAndDropsEarlyOnes) {
  const auto frame = Ac3Frame(0x08, 256);  // frmsizecod 8: 128 words
  auto second = frame;
  second.back() = 0x77;
  struct Case {
    std::int32_t offset;
    std::size_t written;
  };
  for (const Case c : {Case{1440, 2}, Case{1439, 1}, Case{-1440, 1}, Case{-1441, 0}, Case{5760, 3}}) {
    Ac3Rig rig;
    rig.timing.videoTime = 50000;
    ASSERT_TRUE(rig.feed(frame, 50000));
    ASSERT_TRUE(rig.feed(second, 50000 + 2880 + c.offset));
    EXPECT_EQ(rig.framesOut(), 1 + c.written) << "offset " << c.offset;
    EXPECT_EQ(rig.ac3.expectedTime(0), 50000 - 0 + 2880 * (1 + c.written));
    EXPECT_EQ(TsElementaryOf(rig.sink, 0x1100), GapFilled(frame, second, c.written)) << "offset " << c.offset;
  }
}

// With the video followed, a late frame and the frames after it wait for the
// video's next time stamp: where the picture lost the same time, the time
// origin moves and the frame is in step (no repeats); where it lost more, the
// late frame is early and dropped; where sound alone was lost, the gap is
// filled as before. A full store lets the frames go without waiting.
TEST(AudioAssemblers, LateFramesWaitForThePicture) {
  struct Case {
    std::uint32_t originMove;  // ticks the video moves the origin by before the release
    std::size_t lateWritten;   // frames written for the late one
  };
  const auto mp2 = Frame({0xFF, 0xFD, 0x84}, 384);
  const auto ac3 = Ac3Frame(0x08, 256);
  for (const bool isAc3 : {false, true}) {
    const std::uint32_t tick = isAc3 ? 2880 : 2160;
    const auto& frame = isAc3 ? ac3 : mp2;
    for (const Case c : {Case{0, 3}, Case{2 * tick, 1}, Case{3 * tick, 0}}) {
      SCOPED_TRACE(testing::Message() << (isAc3 ? "AC-3" : "MP2") << " move " << c.originMove);
      Ac3Rig a;
      MpegAudioRig m;
      HandlerRig& rig = isAc3 ? static_cast<HandlerRig&>(a) : m;
      auto feed = [&](std::int64_t pts) { return isAc3 ? a.feed(frame, pts) : m.feed(frame, pts); };
      auto out = [&] { return isAc3 ? a.framesOut() : m.framesOut(); };
      rig.timing.videoTime = 100000;
      rig.mpeg.FollowVideo(true);
      rig.ac3.FollowVideo(true);
      ASSERT_TRUE(feed(100000));
      ASSERT_TRUE(feed(100000 + 3 * tick));  // two frames missing
      ASSERT_TRUE(feed(-1));                 // the next frame of its PES
      EXPECT_EQ(out(), 1u) << "both wait";
      rig.timing.startBase += c.originMove;
      ASSERT_TRUE(rig.mpeg.ReleaseHeld() && rig.ac3.ReleaseHeld());
      EXPECT_EQ(out(), 2 + c.lateWritten);
    }
    Ac3Rig a;
    MpegAudioRig m;
    HandlerRig& rig = isAc3 ? static_cast<HandlerRig&>(a) : m;
    auto feed = [&](std::int64_t pts) { return isAc3 ? a.feed(frame, pts) : m.feed(frame, pts); };
    rig.timing.videoTime = 100000;
    rig.mpeg.FollowVideo(true);
    rig.ac3.FollowVideo(true);
    ASSERT_TRUE(feed(100000));
    ASSERT_TRUE(feed(100000 + 3 * tick));
    for (std::uint32_t k = 0; k < HeldFrames::kCapacity; ++k) ASSERT_TRUE(feed(-1));
    EXPECT_EQ(isAc3 ? a.framesOut() : m.framesOut(), 1u + 3 + HeldFrames::kCapacity) << "the store was full";
  }
}

TEST(Ac3Assembler, SyncRunsAndHeadersSplitAcrossPesPackets) {
  Ac3Rig rig;
  const auto f = Ac3Frame(0x08, 256);
  // 0B 0B 77: the sync word starts at the second 0x0B.
  std::vector<std::uint8_t> first{0x55, 0x0B};
  ASSERT_TRUE(rig.feed(first, 20000));
  // The next PES starts with 0B 77 ...; its PTS is not the frame's.
  ASSERT_TRUE(rig.feed({0x0B}, 20000));
  ASSERT_TRUE(rig.feed(std::vector<std::uint8_t>(f.begin() + 1, f.end()), 99999));
  ASSERT_EQ(rig.framesOut(), 1u);
  EXPECT_EQ(TsElementaryOf(rig.sink, 0x1100), f);
  EXPECT_EQ(rig.mux.TrackOutTime(0), 20000u + 2880u);
}

TEST(AudioAssemblers, SurviveRandomBytes) {
  std::mt19937 random(7);
  for (int round = 0; round < 20; ++round) {
    MpegAudioRig mpeg;
    Ac3Rig ac3;
    std::vector<std::uint8_t> piece(184);
    for (int k = 0; k < 400; ++k) {
      for (auto& b : piece) b = static_cast<std::uint8_t>(random());
      // Bias towards sync bytes so that headers are found often.
      piece[random() % 184] = 0xFF;
      piece[random() % 184] = 0x0B;
      piece[(random() % 183)] = 0x0B;
      const std::size_t n = random() % 185;
      ASSERT_TRUE(mpeg.feed(std::vector<std::uint8_t>(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n)),
                            (k % 3 == 0) ? std::int64_t(random() % 1000000) : -1));
      ASSERT_TRUE(ac3.feed(std::vector<std::uint8_t>(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n)),
                           (k % 3 == 0) ? std::int64_t(random() % 1000000) : -1));
    }
    for (const auto& p : mpeg.sink.packets) ASSERT_EQ(p.size(), 188u);
  }
}

TEST(AudioAssemblers, RefusedOutputEndsTheCall) {
  MpegAudioRig rig;
  rig.sink.refuseAfter = 0;
  EXPECT_FALSE(rig.feed(Frame({0xFF, 0xFD, 0x84}, 384), 9000));
  Ac3Rig ac3;
  ac3.sink.refuseAfter = 0;
  EXPECT_FALSE(ac3.feed(Ac3Frame(0x08, 256), 9000));
}

}  // namespace
}  // namespace kelvor::test
