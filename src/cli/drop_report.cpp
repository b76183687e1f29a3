#include "cli/drop_report.h"

#include <cstdio>
#include <cstdlib>

#include "common/cut_list.h"

namespace kelvor::cli {
namespace {

struct TrackFrames {
  const char* kind;
  std::uint32_t pid;
  std::uint32_t dropped;
  std::uint32_t repeated;
};

// The audio tracks that dropped or repeated frames in `e`.
template <typename Visit>
void ForEachTrack(const DropEvent& e, const TrackTable* t, Visit visit) {
  for (std::size_t k = 0; k < e.audioDropped.size(); ++k) {
    if (e.audioDropped[k] + e.audioRepeated[k] == 0) continue;
    const Track* track = t != nullptr && k < t->audioCount ? &t->audio[k] : nullptr;
    const bool mpeg = track != nullptr && track->codec == Codec::MpegAudio;
    visit(TrackFrames{mpeg ? "mpeg_audio" : "ac3", track != nullptr ? track->pid : 0, e.audioDropped[k],
                      e.audioRepeated[k]});
  }
}

// A cut's end: seconds, or null for the end of the recording.
std::string CutEnd(std::int64_t ticks) { return ticks == kCutToTheEnd ? "null" : Seconds(ticks); }

}  // namespace

const char* DropKindName(DropKind kind) {
  switch (kind) {
    case DropKind::VideoLoss: return "video_loss";
    case DropKind::AudioLoss: return "audio_loss";
    case DropKind::Jump: return "jump";
    case DropKind::Repeat: return "repeat";
    case DropKind::Cut: return "cut";
  }
  return "repeat";
}

std::string Seconds(std::int64_t ticks) {
  char text[32];
  const std::int64_t ms = (ticks < 0 ? ticks - 45 : ticks + 45) / 90;
  const auto magnitude = static_cast<unsigned long long>(ms < 0 ? -ms : ms);
  std::snprintf(text, sizeof text, "%s%llu.%03llu", ms < 0 ? "-" : "", magnitude / 1000, magnitude % 1000);
  return text;
}

DropReport::DropReport() { events_.reserve(kMaxEvents); }

void DropReport::Begin(const TrackTable* tracks, UiPort* live) {
  events_.clear();
  leftOut_ = 0;
  tracks_ = tracks;
  live_ = live;
}

void DropReport::OnDiscontinuity(const DropEvent& event) {
  if (events_.size() < kMaxEvents) {
    events_.push_back(event);
  } else {
    ++leftOut_;
  }
  if (live_ != nullptr) live_->showMessage(Describe(event), MessageKind::Error);
}

std::string DropReport::Describe(const DropEvent& e) const {
  static constexpr const char* kWords[] = {"video loss", "audio loss", "time stamp jump", "repeated packets",
                                           "cut"};
  std::string line = kWords[static_cast<int>(e.kind)];
  if (e.kind == DropKind::Cut) {
    line += " " + FormatCutTime(e.askedStart) + "-" + FormatCutTime(e.askedEnd) + " made at " +
            FormatCutTime(e.cutStart) + "-" + FormatCutTime(e.cutEnd);
  }
  line += " at input offset " + std::to_string(e.inputOffset) + " (input " + Seconds(e.inputTime) +
          " s, output " + Seconds(e.outputTime) + " s)";
  if (e.timeCut != 0) line += ": " + Seconds(e.timeCut) + " s cut";
  if (e.picturesSkipped != 0) line += ", " + std::to_string(e.picturesSkipped) + " pictures left out";
  if (e.packetsRepeated != 0) line += ", " + std::to_string(e.packetsRepeated) + " repeated packets left out";
  ForEachTrack(e, tracks_, [&](const TrackFrames& f) {
    char text[96];
    std::snprintf(text, sizeof text, ", [%04X] %u frames dropped, %u repeated", f.pid, f.dropped, f.repeated);
    line += text;
  });
  return line;
}

std::string DropReport::JsonEvents() const {
  std::string out = "[";
  for (std::size_t k = 0; k < events_.size(); ++k) {
    const DropEvent& e = events_[k];
    out += k == 0 ? "\n" : ",\n";
    out += "        {\"kind\": \"" + std::string(DropKindName(e.kind)) +
           "\", \"input_offset\": " + std::to_string(e.inputOffset) + ", \"input_time\": " + Seconds(e.inputTime) +
           ", \"output_time\": " + Seconds(e.outputTime) + ", \"time_cut\": " + Seconds(e.timeCut) +
           ", \"pictures_skipped\": " + std::to_string(e.picturesSkipped) +
           ", \"packets_repeated\": " + std::to_string(e.packetsRepeated);
    if (e.kind == DropKind::Cut) {
      out += ", \"asked_start\": " + Seconds(e.askedStart) + ", \"asked_end\": " + CutEnd(e.askedEnd) +
             ", \"cut_start\": " + Seconds(e.cutStart) + ", \"cut_end\": " + CutEnd(e.cutEnd);
    }
    out += ", \"audio\": [";
    bool first = true;
    ForEachTrack(e, tracks_, [&](const TrackFrames& f) {
      out += first ? "" : ", ";
      first = false;
      out += "{\"pid\": " + std::to_string(f.pid) + ", \"codec\": \"" + f.kind +
             "\", \"frames_dropped\": " + std::to_string(f.dropped) +
             ", \"frames_repeated\": " + std::to_string(f.repeated) + "}";
    });
    out += "]}";
  }
  out += events_.empty() ? "]" : "\n      ]";
  return out;
}

}  // namespace kelvor::cli
