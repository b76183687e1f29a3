#include "mux/ts_psi.h"

#include <algorithm>

#include "common/crc32_mpeg.h"
#include "common/mpeg_ids.h"
#include "mux/byte_writer.h"
#include "mux/es_descriptors.h"

namespace kelvor {

namespace {

// Fields common to the PAT and PMT packets: sync byte, PUSI with `pid`,
// payload only with continuity_counter 0, pointer_field 0.
void WriteSectionPacketHeader(ByteWriter& w, std::uint16_t pid) {
  w.u8(0x47);
  w.u16(0x4000u | pid);
  w.u8(0x10);
  w.u8(0x00);
}

// CRC_32 over the section (from table_id, at offset 5) and 0xFF to the end.
void FinishSection(ByteWriter& w, std::span<std::uint8_t> packet) {
  constexpr std::size_t kTableIdOffset = 5;
  w.u32(Crc32Mpeg(packet.subspan(kTableIdOffset, w.pos() - kTableIdOffset)));
  w.fill(0xFF, packet.size() - w.pos());
}

}  // namespace

void BuildPatPacket(std::span<std::uint8_t, kTsPacketSize> packet) {
  ByteWriter w(packet);
  WriteSectionPacketHeader(w, kPatPid);
  w.u8(0x00);     // table_id
  w.u16(0xB011);  // section_length 17
  w.u16(0x0000);  // transport_stream_id
  w.u8(0xC3);     // version 1, current
  w.u8(0x00);
  w.u8(0x00);
  w.u32(0x0000E01F);  // program 0: network PID 0x001F
  w.u16(0x0001);
  w.u16(0xE000u | kPmtPid);
  FinishSection(w, packet);
}

std::uint32_t BuildPmtPacket(std::span<std::uint8_t, kTsPacketSize> packet,
                             const RunSettings& run) {
  const bool h264 = IsNalVideo(run.videoCodec);
  const std::uint32_t infoLength = h264 ? 6 : 0;
  std::uint32_t entryBytes = h264 ? 11 : 5;
  for (std::uint32_t n = 0; n < run.outputCount; ++n) {
    const AudioOutput& out = run.outputs[n];
    entryBytes += 5 + AudioInfoLength(out);
  }
  const std::uint32_t sectionLength = 9 + infoLength + entryBytes + 4;

  ByteWriter w(packet);
  WriteSectionPacketHeader(w, kPmtPid);
  w.u8(0x02);
  w.u16(0xB000u | sectionLength);
  w.u16(0x0001);  // program_number
  w.u8(0xC3);
  w.u8(0x00);
  w.u8(0x00);
  w.u16(0xE000u | kPcrPid);
  w.u16(0xF000u | infoLength);
  if (h264) WriteRegistrationDescriptor(w, "HDMV");

  if (h264) {
    w.u8(run.videoCodec == Codec::Hevc ? kStreamTypeHevcVideo : kStreamTypeAvcVideo);
    w.u16(0xE000u | kVideoPid);
    w.u16(0xF006);
    WriteRegistrationDescriptor(w, "HDMV");
  } else {
    w.u8(kStreamTypeMpeg2Video);
    w.u16(0xE000u | kVideoPid);
    w.u16(0xF000);
  }
  for (std::uint32_t n = 0; n < run.outputCount; ++n) {
    const AudioOutput& out = run.outputs[n];
    w.u8(out.ac3 ? kStreamTypePrivatePes : OutputStreamType(out.source));
    w.u16(0xE000u | (kFirstAudioPid + out.slot));
    w.u16(0xF000u | AudioInfoLength(out));
    WriteAudioDescriptors(w, out);
  }
  FinishSection(w, packet);
  return sectionLength;
}

void BuildPcrPacket(std::span<std::uint8_t, kTsPacketSize> packet) {
  ByteWriter w(packet);
  w.u8(0x47);
  w.u16(kPcrPid);
  w.u8(0x20);  // adaptation field only
  w.u8(183);
  w.u8(0x10);  // PCR_flag
  w.bytes({0x00, 0x00, 0x00, 0x00, 0x7E, 0x00});
  w.fill(0xFF, packet.size() - w.pos());
}

void BuildTsTemplate(std::span<std::uint8_t> tmpl, std::uint32_t prefix, std::uint16_t pid,
                     std::uint8_t streamId) {
  const std::uint32_t packetSize = kTsPacketSize + prefix;
  std::fill(tmpl.begin(), tmpl.end(), std::uint8_t{0});
  ByteWriter w(tmpl);
  w.fill(0x00, prefix);
  w.u8(0x47);
  w.u16(0x4000u | pid);
  w.u8(0x10);
  w.u32(0x00000100u | streamId);
  w.u16(0x0000);  // unbounded PES_packet_length
  w.u8(0x81);
  w.u8(0x00);
  w.u8(0x05);
  w.fill(0xFF, 5);

  ByteWriter following(tmpl.subspan(std::min<std::size_t>(packetSize, tmpl.size())));
  following.fill(0x00, prefix);
  following.u8(0x47);
  following.u16(pid);
  following.u8(0x10);
}

}  // namespace kelvor
