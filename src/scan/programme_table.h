#pragma once
// The programmes of a multiplex, from the PAT and every PMT: which
// elementary PIDs each one carries and of what stream_type, so that the scan
// offers only the audio of the programme whose video it takes.
#include <array>
#include <cstdint>
#include <span>

#include "scan/pmt.h"

namespace kelvor {

inline constexpr std::size_t kMaxProgrammes = 16;
inline constexpr std::size_t kMaxProgrammeStreams = 16;

struct Programme {
  std::uint32_t number = 0;  // program_number
  std::uint32_t pmtPid = 0;
  bool pmtRead = false;
  Pmt pmt;  // its PMT, once read

  // The streams the programme is known by: the first kMaxProgrammeStreams
  // of its PMT.
  std::span<const PmtEntry> streams() const {
    return std::span(pmt.streams).first(pmt.streamCount < kMaxProgrammeStreams ? pmt.streamCount
                                                                                : kMaxProgrammeStreams);
  }
  // The stream_type of `pid` in this programme, or 0 when it has none.
  std::uint8_t typeOf(std::uint32_t pid) const;
  bool hasVideo() const;
};

class ProgrammeTable {
 public:
  void Reset() { *this = ProgrammeTable{}; }

  // A whole program_association_section (from its table_id on): records
  // the programmes (program_number 0, the network PID, is skipped). False
  // for a malformed or CRC-failing section.
  bool ReadPat(std::span<const std::uint8_t> section);
  // A PMT that ParsePmt accepted, from the PID it came on: records the
  // programme's streams. False when the table is full.
  bool ReadPmt(const Pmt& pmt, std::uint32_t pmtPid);

  std::uint32_t count() const { return count_; }
  const Programme& operator[](std::uint32_t k) const { return programmes_[k]; }
  const Programme* find(std::uint32_t number) const;
  // The programme whose PMT lists `pid`, or nullptr.
  const Programme* declaring(std::uint32_t pid) const;
  // Every PMT the PAT names has been read.
  bool allPmtsRead() const;

 private:
  Programme* findOrAdd(std::uint32_t number);

  std::uint32_t count_ = 0;
  std::array<Programme, kMaxProgrammes> programmes_{};
};

bool IsVideoStreamType(std::uint8_t type);
bool IsMpegAudioStreamType(std::uint8_t type);

}  // namespace kelvor
