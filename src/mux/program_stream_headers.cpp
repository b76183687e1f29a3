#include "mux/program_stream_headers.h"

#include <algorithm>

#include "common/crc32_mpeg.h"
#include "common/mpeg_ids.h"
#include "mux/byte_writer.h"
#include "mux/es_descriptors.h"

namespace kelvor {

namespace {

void WriteProgramStreamMap(ByteWriter& w, std::span<std::uint8_t> pack, const RunSettings& run) {
  const std::size_t start = w.pos();
  const bool h264 = IsNalVideo(run.videoCodec);

  std::uint32_t esMapLength = h264 ? 10 : 4;
  for (std::uint32_t n = 0; n < run.outputCount; ++n) {
    const AudioOutput& out = run.outputs[n];
    esMapLength += 4 + AudioInfoLength(out);
  }
  const std::uint32_t infoLength = h264 ? 6 : 0;

  w.u32(0x00000100u | kProgramStreamMapId);
  w.u16(esMapLength + 10 + infoLength);
  w.u8(0xE1);
  w.u8(0xFF);
  w.u16(infoLength);
  if (h264) WriteRegistrationDescriptor(w, "HDMV");
  w.u16(esMapLength);

  if (h264) {
    w.u8(run.videoCodec == Codec::Hevc ? kStreamTypeHevcVideo : kStreamTypeAvcVideo);
    w.u8(kFirstVideoStreamId);
    w.u16(6);
    WriteRegistrationDescriptor(w, "HDMV");
  } else {
    w.u8(kStreamTypeMpeg2Video);
    w.u8(kFirstVideoStreamId);
    w.u16(0);
  }
  for (std::uint32_t n = 0; n < run.outputCount; ++n) {
    const AudioOutput& out = run.outputs[n];
    w.u8(out.ac3 ? kStreamTypePrivatePes : kStreamTypeMpeg1Audio);
    w.u8(out.ac3 ? kPrivateStream1Id : kFirstMpegAudioStreamId + out.slot);
    w.u16(AudioInfoLength(out));
    WriteAudioDescriptors(w, out);
  }
  if (w.overflowed()) return;
  w.u32(Crc32Mpeg(pack.subspan(start, w.pos() - start)));
}

}  // namespace

std::uint32_t ProgramStreamMuxRate(std::uint32_t ac3Streams, std::uint32_t videoBitRate,
                                   std::uint32_t mpegStreams) {
  const std::uint64_t bytesPer50 =
      std::uint64_t{ac3Streams} * 1600 + videoBitRate + std::uint64_t{mpegStreams} * 960;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(bytesPer50 * 2048 / 2020, kMaxMuxRate));
}

void WritePackHeader(std::span<std::uint8_t> pack, std::uint32_t muxRate) {
  ByteWriter w(pack);
  w.u32(0x000001BA);
  w.bytes({0x44, 0x00, 0x04, 0x00, 0x04, 0x01});
  w.u8(muxRate >> 14);
  w.u8(muxRate >> 6);
  w.u8((muxRate << 2) | 3);
  w.u8(0xF8);
}

std::uint32_t BuildProgramStreamHeaderPack(std::span<std::uint8_t, kPackSize> pack,
                                           const RunSettings& run) {
  const std::uint32_t rate =
      ProgramStreamMuxRate(run.ac3OutCount, run.videoBitRate, run.mpegOutCount);
  WritePackHeader(pack, rate);

  ByteWriter w(pack);
  w.skip(kPackHeaderSize);
  const std::uint32_t entries = 1 + (run.mpegOutCount > 0 ? 1 : 0) + (run.ac3OutCount > 0 ? 1 : 0);
  w.u32(0x000001BB);
  w.u16(6 + 3 * entries);
  w.u8((rate >> 15) | 0x80);
  w.u8(rate >> 7);
  w.u8((rate << 1) | 1);
  w.u8(0x04);
  w.u8(0xE1);
  w.u8(0x7F);
  w.bytes({0xB9, 0xF4, 0x00});
  if (run.mpegOutCount > 0) {
    w.bytes({0xB8, 0xC0, 0x50});  // all audio streams: buffer bound 0x50 x 128 bytes
  }
  if (run.ac3OutCount > 0) {
    w.bytes({kPrivateStream1Id, 0xC0, 0xA0});
  }

  const auto mapOffset = static_cast<std::uint32_t>(w.pos());
  WriteProgramStreamMap(w, pack, run);

  // Padding packet up to the end of the pack.
  w.u32(0x00000100u | kPaddingStreamId);
  const auto afterLength = static_cast<std::uint32_t>(w.pos() + 2);
  w.u16(kPackSize - afterLength);
  w.fill(0xFF, kPackSize - afterLength);
  return mapOffset;
}

void BuildProgramStreamTemplate(std::span<std::uint8_t, kPackSize> pack, std::uint32_t muxRate,
                                std::uint8_t streamId, int subStreamId) {
  WritePackHeader(pack, muxRate);
  ByteWriter w(pack);
  w.skip(kPackHeaderSize);
  w.u32(0x00000100u | streamId);
  w.u16(kFullPesLength);
  w.u8(0x81);
  w.u8(0x00);
  w.u8(0x05);
  w.fill(0xFF, 5);
  if (subStreamId >= 0) {
    w.u8(static_cast<std::uint32_t>(subStreamId));
    w.fill(0x00, 3);
  }
  std::fill(pack.begin() + static_cast<std::ptrdiff_t>(w.pos()), pack.end(), std::uint8_t{0});
}

}  // namespace kelvor
