#include "cli/audio_choice.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace kelvor::cli {
namespace {

// The value of `digits` in `base` when every character is a digit of it and
// the value is a PID.
std::optional<std::uint32_t> PidIn(const std::string& digits, int base) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  for (const char c : digits) {
    const auto u = static_cast<unsigned char>(c);
    if (base == 16 ? std::isxdigit(u) == 0 : std::isdigit(u) == 0) return std::nullopt;
  }
  const unsigned long value = std::strtoul(digits.c_str(), nullptr, base);
  if (value > 0x1FFF) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// The PIDs the text may mean: one for "0x..." and "[...]", the hex and the
// decimal reading for bare digits.
std::vector<std::uint32_t> Readings(const std::string& text) {
  std::vector<std::uint32_t> pids;
  const bool hexPrefix = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const bool bracketed = text.size() > 2 && text.front() == '[' && text.back() == ']';
  if (hexPrefix || bracketed) {
    if (auto pid = PidIn(hexPrefix ? text.substr(2) : text.substr(1, text.size() - 2), 16)) pids.push_back(*pid);
    return pids;
  }
  if (auto pid = PidIn(text, 16)) pids.push_back(*pid);
  if (auto pid = PidIn(text, 10); pid && (pids.empty() || *pid != pids[0])) pids.push_back(*pid);
  return pids;
}

void PrintChoices(const TrackTable& t, const std::vector<std::string>& rows) {
  for (std::uint32_t k = 0; k < t.trackChoiceCount && k < kMaxTrackChoices; ++k) {
    const TrackChoice& c = t.trackChoices[k];
    const std::string label = c.listIndex < rows.size() ? rows[c.listIndex] : std::string();
    if (c.pid == kAllTracks) {
      std::fprintf(stderr, "  all\t%s\n", label.c_str());
    } else {
      std::fprintf(stderr, "  0x%04X\t%s\n", c.pid, label.c_str());
    }
  }
}

const TrackChoice* ListedTrack(const TrackTable& t, std::uint32_t pid) {
  for (std::uint32_t k = 0; k < t.trackChoiceCount && k < kMaxTrackChoices; ++k) {
    if (t.trackChoices[k].pid == pid) return &t.trackChoices[k];
  }
  return nullptr;
}

}  // namespace

bool SelectAudio(const std::string& text, TrackTable& t, const std::vector<std::string>& rows) {
  const TrackChoice* found = nullptr;
  std::string all = text;
  for (char& c : all) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (all == "all") {
    found = ListedTrack(t, kAllTracks);
    // A single listed track has no "All audio tracks" row: it is the choice.
    if (found == nullptr && t.trackChoiceCount == 1) found = &t.trackChoices[0];
  } else {
    const std::vector<std::uint32_t> readings = Readings(text);
    std::string means;
    for (const std::uint32_t pid : readings) {
      char hex[16];
      std::snprintf(hex, sizeof hex, "%s0x%04X", means.empty() ? "" : " or ", pid);
      means += hex;
      if (const TrackChoice* listed = ListedTrack(t, pid); listed != nullptr) {
        if (found != nullptr) {
          std::fprintf(stderr, "kelvor-cli convert: --audio %s may be PID %s, both listed: write it with 0x\n",
                       text.c_str(), means.c_str());
          PrintChoices(t, rows);
          return false;
        }
        found = listed;
      }
    }
    if (readings.empty()) {
      std::fprintf(stderr, "kelvor-cli convert: --audio %s is not a PID; the tracks are:\n", text.c_str());
    } else if (found == nullptr) {
      std::fprintf(stderr, "kelvor-cli convert: --audio %s (PID %s) is not a listed audio track; the tracks are:\n",
                   text.c_str(), means.c_str());
    }
  }
  if (found == nullptr) {
    PrintChoices(t, rows);
    return false;
  }
  t.selectedAudioPid = found->pid;
  const Track* track = t.audioTrack(found->pid);
  t.selectedIsPrivate = track != nullptr && IsAc3Family(track->codec);
  return true;
}

}  // namespace kelvor::cli
