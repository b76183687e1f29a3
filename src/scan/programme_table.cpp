#include "scan/programme_table.h"

#include "common/crc32_mpeg.h"
#include "common/mpeg_ids.h"
#include "scan/pmt_parser.h"
#include "scan/track_table.h"

namespace kelvor {
namespace {

// The length of a whole long-form section with a good CRC, or 0.
std::size_t CheckedSectionLength(std::span<const std::uint8_t> s, std::uint8_t tableId) {
  if (s.size() < 3 || s[0] != tableId) return 0;
  const std::size_t n = (((s[1] & 0x0Fu) << 8) | s[2]) + 3u;
  if (n < 12 || n > s.size() || (s[1] & 0xC0) != 0x80) return 0;
  if (Crc32Mpeg(s.first(n)) != 0) return 0;
  return n;
}

}  // namespace

bool IsVideoStreamType(std::uint8_t type) {
  return type == 0x01 || type == kStreamTypeMpeg2Video || type == kStreamTypeAvcVideo;
}

bool IsMpegAudioStreamType(std::uint8_t type) {
  return type == kStreamTypeMpeg1Audio || type == kStreamTypeMpeg2Audio;
}

std::uint8_t Programme::typeOf(std::uint32_t pid) const {
  for (std::uint32_t k = 0; k < streamCount; ++k) {
    if (streams[k].pid == pid) return streams[k].streamType;
  }
  return 0;
}

bool Programme::hasVideo() const {
  for (std::uint32_t k = 0; k < streamCount; ++k) {
    if (IsVideoStreamType(streams[k].streamType)) return true;
  }
  return false;
}

Programme* ProgrammeTable::findOrAdd(std::uint32_t number) {
  for (std::uint32_t k = 0; k < count_; ++k) {
    if (programmes_[k].number == number) return &programmes_[k];
  }
  if (count_ == programmes_.size()) return nullptr;
  Programme& p = programmes_[count_++];
  p = Programme{};
  p.number = number;
  return &p;
}

bool ProgrammeTable::ReadPat(std::span<const std::uint8_t> s) {
  const std::size_t n = CheckedSectionLength(s, 0x00);
  if (n == 0 || s[6] != 0 || s[7] != 0) return false;
  for (std::size_t pos = 8; pos + 4 <= n - 4; pos += 4) {
    const std::uint32_t number = (std::uint32_t{s[pos]} << 8) | s[pos + 1];
    if (number == 0) continue;  // the network information PID
    if (Programme* p = findOrAdd(number)) p->pmtPid = ((s[pos + 2] & 0x1Fu) << 8) | s[pos + 3];
  }
  patRead_ = true;
  return true;
}

bool ProgrammeTable::ReadPmt(std::span<const std::uint8_t> s, std::uint32_t pmtPid) {
  TrackTable scratch;  // the same checks as the PMT parser
  if (CheckedSectionLength(s, 0x02) == 0 || !parsePmt(s, scratch)) return false;
  const std::size_t n = (((s[1] & 0x0Fu) << 8) | s[2]) + 3u;
  Programme* p = findOrAdd((std::uint32_t{s[3]} << 8) | s[4]);
  if (p == nullptr) return false;
  p->pmtPid = pmtPid;
  p->pmtRead = true;
  p->streamCount = 0;
  p->languageCount = scratch.languageCount;
  p->languagePid = scratch.languagePid;
  p->languageCode = scratch.languageCode;
  const std::size_t programInfoLength = ((s[10] & 0x0Fu) << 8) | s[11];
  for (std::size_t pos = 12 + programInfoLength; pos + 9 <= n;) {
    const std::size_t esInfoLength = ((s[pos + 3] & 0x0Fu) << 8) | s[pos + 4];
    if (p->streamCount < p->streams.size()) {
      p->streams[p->streamCount++] = {((s[pos + 1] & 0x1Fu) << 8) | s[pos + 2], s[pos]};
    }
    pos += esInfoLength + 5;
  }
  return true;
}

const Programme* ProgrammeTable::find(std::uint32_t number) const {
  for (std::uint32_t k = 0; k < count_; ++k) {
    if (programmes_[k].number == number) return &programmes_[k];
  }
  return nullptr;
}

const Programme* ProgrammeTable::declaring(std::uint32_t pid) const {
  for (std::uint32_t k = 0; k < count_; ++k) {
    if (programmes_[k].pmtRead && programmes_[k].typeOf(pid) != 0) return &programmes_[k];
  }
  return nullptr;
}

bool ProgrammeTable::allPmtsRead() const {
  for (std::uint32_t k = 0; k < count_; ++k) {
    if (!programmes_[k].pmtRead) return false;
  }
  return true;
}

}  // namespace kelvor
