#pragma once
// The programmes of a multiplex, from the PAT and every PMT: which
// elementary PIDs each one carries and of what stream_type, so that the scan
// offers only the audio of the programme whose video it takes.
#include <array>
#include <cstdint>
#include <span>

namespace kelvor {

inline constexpr std::size_t kMaxProgrammes = 16;
inline constexpr std::size_t kMaxProgrammeStreams = 16;

struct ProgrammeStream {
  std::uint32_t pid = 0;
  std::uint8_t streamType = 0;
};

struct Programme {
  std::uint32_t number = 0;  // program_number
  std::uint32_t pmtPid = 0;
  bool pmtRead = false;
  std::uint32_t streamCount = 0;
  std::array<ProgrammeStream, kMaxProgrammeStreams> streams{};
  // The audio languages of its PMT, as the PMT parser reads them.
  std::uint32_t languageCount = 0;
  std::array<std::uint32_t, 8> languagePid{};
  std::array<std::array<char, 4>, 8> languageCode{};

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
  // A whole TS_program_map_section that parsePmt accepts: records the
  // programme's streams.
  bool ReadPmt(std::span<const std::uint8_t> section, std::uint32_t pmtPid);

  bool patRead() const { return patRead_; }
  std::uint32_t count() const { return count_; }
  const Programme& operator[](std::uint32_t k) const { return programmes_[k]; }
  const Programme* find(std::uint32_t number) const;
  // The programme whose PMT lists `pid`, or nullptr.
  const Programme* declaring(std::uint32_t pid) const;
  // Every PMT the PAT names has been read.
  bool allPmtsRead() const;

 private:
  Programme* findOrAdd(std::uint32_t number);

  bool patRead_ = false;
  std::uint32_t count_ = 0;
  std::array<Programme, kMaxProgrammes> programmes_{};
};

bool IsVideoStreamType(std::uint8_t type);
bool IsMpegAudioStreamType(std::uint8_t type);

}  // namespace kelvor
