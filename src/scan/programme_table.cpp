#include "scan/programme_table.h"

#include <algorithm>

#include "common/crc32_mpeg.h"
#include "common/mpeg_ids.h"

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
  return type == 0x01 || type == kStreamTypeMpeg2Video || type == kStreamTypeAvcVideo ||
         type == kStreamTypeHevcVideo;
}

bool IsMpegAudioStreamType(std::uint8_t type) {
  return type == kStreamTypeMpeg1Audio || type == kStreamTypeMpeg2Audio;
}

std::uint8_t Programme::typeOf(std::uint32_t pid) const {
  for (const PmtEntry& e : streams()) {
    if (e.pid == pid) return e.streamType;
  }
  return 0;
}

bool Programme::hasVideo() const {
  const auto all = streams();
  return std::any_of(all.begin(), all.end(),
                     [](const PmtEntry& e) { return IsVideoStreamType(e.streamType); });
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
  return true;
}

bool ProgrammeTable::ReadPmt(const Pmt& pmt, std::uint32_t pmtPid) {
  Programme* p = findOrAdd(pmt.programNumber);
  if (p == nullptr) return false;
  p->pmtPid = pmtPid;
  p->pmtRead = true;
  p->pmt = pmt;
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
