// libFuzzer target for the scan's parsers: the PMT parser (with the codec
// each entry names) and the probes (MPEG audio, AC-3/E-AC-3, video, and with
// the AC-3 probe the AAC, DTS and TrueHD header readers).
//
// Input: one control byte, then the bytes. Bits 0-1 choose the parser:
// 0 the PMT parser, 1 the MPEG audio probe, 2 the AC-3 probe, 3 the video
// probe. Bit 2: for the PMT, the section length and CRC are made to fit the
// bytes, so that mutations reach the stream loop behind the CRC check; for
// the video probe, the stream is H.264. Bits 3-7: a probe gets the bytes in
// payloads of 6 * (1 + bits 3-7) bytes, as packets would bring them.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/crc32_mpeg.h"
#include "scan/ac3_probe.h"
#include "scan/audio_format_probe.h"
#include "scan/stream_codec.h"
#include "scan/mpeg_audio_probe.h"
#include "scan/pmt.h"
#include "scan/track_table.h"
#include "scan/video_probe.h"

namespace {

// Every stream entry of an accepted (or half-read) PMT is read back.
void ReadBack(const kelvor::Pmt& pmt) {
  volatile std::size_t sum = 0;
  for (std::uint32_t k = 0; k < pmt.streamCount; ++k) {
    for (const std::uint8_t b : pmt.descriptors(pmt.streams[k])) sum = sum + b;
    if (const char* code = pmt.languageOf(pmt.streams[k].pid)) sum = sum + static_cast<std::size_t>(code[0]);
    const auto& e = pmt.streams[k];
    sum = sum + static_cast<std::size_t>(kelvor::CodecOfStream(e.streamType, pmt.descriptors(e), e.pid & 1));
  }
  sum = sum + static_cast<std::size_t>(pmt.videoCodec());
}

void FuzzPmt(std::span<const std::uint8_t> bytes, bool repair) {
  kelvor::Pmt pmt;
  if (!repair || bytes.size() < 16 || bytes.size() > 1024) {
    kelvor::ParsePmt(bytes, pmt);
    ReadBack(pmt);
    return;
  }
  std::vector<std::uint8_t> s(bytes.begin(), bytes.end());
  const std::size_t length = s.size() - 3;
  s[1] = static_cast<std::uint8_t>(0x80 | (s[1] & 0x30) | (length >> 8));
  s[2] = static_cast<std::uint8_t>(length);
  const std::uint32_t crc = kelvor::Crc32Mpeg(std::span(s).first(s.size() - 4));
  for (std::size_t k = 0; k < 4; ++k) s[s.size() - 4 + k] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
  kelvor::ParsePmt(s, pmt);
  ReadBack(pmt);
}

template <typename Probe>
void FeedInPieces(std::span<const std::uint8_t> bytes, std::size_t piece, Probe&& probe) {
  for (std::size_t pos = 0; pos < bytes.size(); pos += piece) {
    if (probe(bytes.subspan(pos, std::min(piece, bytes.size() - pos)))) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t control = data[0];
  const std::span<const std::uint8_t> bytes(data + 1, size - 1);
  const bool option = (control & 4u) != 0;
  const std::size_t piece = 6u * (1u + (control >> 3));

  switch (control & 3u) {
    case 0:
      FuzzPmt(bytes, option);
      break;
    case 1: {
      kelvor::MpegAudioProbe probe;
      kelvor::AudioProbeResult result;
      FeedInPieces(bytes, piece, [&](auto p) { return probe.probe(p, result); });
      break;
    }
    case 2: {
      kelvor::Ac3Probe probe;
      kelvor::Ac3ProbeResult result;
      FeedInPieces(bytes, piece, [&](auto p) { return probe.probe(p, result); });
      for (const kelvor::Codec c : {kelvor::Codec::AacAdts, kelvor::Codec::AacLatm, kelvor::Codec::Dts,
                                    kelvor::Codec::TrueHd}) {
        kelvor::AudioFormat format;
        FeedInPieces(bytes, piece, [&](auto p) { return kelvor::ProbeAudioFormat(c, p, format); });
        volatile std::size_t length = kelvor::DescribeAudioFormat(c, format).size();
        (void)length;
      }
      break;
    }
    default: {
      kelvor::H264IdrState idr;
      kelvor::VideoProbe probe(idr);
      probe.Reset();
      std::uint32_t bitRate = 0;
      // The scan keeps probing after a find; so does this.
      const kelvor::Codec codec = option ? kelvor::Codec::H264 : kelvor::Codec::Mpeg2Video;
      FeedInPieces(bytes, piece, [&](auto p) { probe.probe(p, codec, bitRate); return false; });
      break;
    }
  }
  return 0;
}
