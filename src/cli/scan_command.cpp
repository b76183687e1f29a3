#include "cli/scan_command.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/cli_ui_port.h"
#include "cli/exit_status.h"
#include "cli/worker_thread.h"
#include "cli/file_checks.h"
#include "cli/json_writer.h"
#include "cli/not_carried_text.h"
#include "common/flags.h"
#include "convert/frame_rate_probe.h"
#include "convert/mpeg2_timeline.h"
#include "io/input_view.h"
#include "scan/mpeg_audio_tables.h"
#include "scan/scan_pass.h"
#include "scan/stream_codec.h"
#include "scan/track_labels.h"

namespace kelvor::cli {
namespace {

constexpr const char* kUsage =
    "Usage: kelvor-cli scan [--json] [--program N] [-v] INPUT\n"
    "\n"
    "Scans the start of a transport stream and prints the track list as the\n"
    "desktop program shows it: row 0 is the file name, then one row per\n"
    "usable audio track, then \" All audio tracks\" when there are two or more.\n"
    "Each selectable row is followed by the PID it selects. A multiplex of\n"
    "several programmes has them listed after the rows, one '#' line each.\n"
    "\n"
    "  --json       print the rows, the video stream and the tracks as JSON\n"
    "  --program N  take the programme with this program_number (by default\n"
    "               the one that carries the first video found)\n"
    "  -v, /V       show stream warnings (printed, the scan goes on)\n"
    "  -h, --help\n"
    "\n"
    "Exit status: 0 scanned, 1 the input could not be read, 2 bad command line.\n";

// The PID a row selects, or nullptr.
const TrackChoice* ChoiceForRow(const TrackTable& tracks, std::uint32_t row) {
  for (std::uint32_t k = 0; k < tracks.trackChoiceCount; ++k) {
    if (tracks.trackChoices[k].listIndex == row) return &tracks.trackChoices[k];
  }
  return nullptr;
}

std::string PidText(std::uint32_t pid) {
  if (pid == kAllTracks) return "all";
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", pid);
  return text;
}

void PrintRows(const std::vector<std::string>& rows, const TrackTable& tracks) {
  for (std::uint32_t row = 0; row < rows.size(); ++row) {
    const TrackChoice* choice = ChoiceForRow(tracks, row);
    if (choice != nullptr) {
      std::printf("%u\t%s\t%s\n", row, rows[row].c_str(), PidText(choice->pid).c_str());
    } else {
      std::printf("%u\t%s\n", row, rows[row].c_str());
    }
  }
}

std::string JsonLanguage(const Track& track) {
  const char* code = track.languageOrNull();
  return code != nullptr ? JsonString(code) : "null";
}

std::string JsonAudioType(const Track& track) {
  const char* type = AudioTypeName(track.audioType);
  return type != nullptr ? JsonString(type) : "null";
}

void PrintJson(const InputView& input, const std::vector<std::string>& rows, const TrackTable& tracks, double frameRate,
               const ScanSummary& summary) {
  std::printf("{\n  \"file\": %s,\n  \"file_bytes_hex\": %s,\n  \"rows\": [", JsonString(input.path()).c_str(),
              JsonHexString(input.path()).c_str());
  for (std::uint32_t row = 0; row < rows.size(); ++row) {
    const TrackChoice* choice = ChoiceForRow(tracks, row);
    std::string pid = "null";
    if (choice != nullptr) pid = choice->pid == kAllTracks ? "\"all\"" : std::to_string(choice->pid);
    std::printf("%s\n    {\"row\": %u, \"text\": %s, \"pid\": %s}", row ? "," : "", row,
                JsonString(rows[row]).c_str(), pid.c_str());
  }
  std::printf("\n  ],\n  \"packet_size\": %u,\n  \"bytes_scanned\": %llu,\n", summary.packetSize,
              static_cast<unsigned long long>(summary.bytesScanned));
  if (summary.videoFound) {
    std::printf("  \"video\": {\"pid\": %u, \"stream_id\": %u, \"codec\": \"%s\", \"bit_rate\": %llu",
                tracks.video.pid, tracks.video.streamId, CodecKind(tracks.video.codec),
                static_cast<unsigned long long>(tracks.videoBitRate) * 400);
    if (tracks.videoWidth != 0) std::printf(", \"width\": %u, \"height\": %u", tracks.videoWidth, tracks.videoHeight);
    if (frameRate > 0) std::printf(", \"frame_rate\": %.3f", frameRate);
    std::printf("},\n");
  } else {
    std::printf("  \"video\": null,\n");
  }
  std::printf("  \"tracks\": [");
  bool first = true;
  for (std::uint32_t k = 0; summary.videoFound && k < tracks.audioCount && k < kMaxAudioTracks; ++k) {
    const Track& t = tracks.audio[k];
    if (t.codec == Codec::MpegAudio) {
      const AudioProbeResult& h = summary.mpegAudio[k];
      std::printf("%s\n    {\"pid\": %u, \"kind\": \"mpeg_audio\", \"language\": %s, \"layer\": %u, "
                  "\"bit_rate_kbps\": %u, \"sampling_khz\": %u, \"mode\": %s, \"audio_type\": %s}",
                  first ? "" : ",", t.pid, JsonLanguage(t).c_str(), h.layer,
                  MpegAudioBitrateKbps(h.layer, h.bitrateIndex), MpegAudioSamplingKHz(h.samplingIndex),
                  JsonString(kModeNames[h.mode & 3]).c_str(), JsonAudioType(t).c_str());
    } else if (IsAacCodec(t.codec)) {
      const AudioFormat& f = summary.aacAudio[k];
      std::printf("%s\n    {\"pid\": %u, \"kind\": \"%s\", \"language\": %s, \"format\": %s, "
                  "\"sampling_hz\": %u, \"channels\": %u, \"audio_type\": %s}",
                  first ? "" : ",", t.pid, CodecKind(t.codec), JsonLanguage(t).c_str(),
                  JsonString(DescribeAudioFormat(t.codec, f)).c_str(), f.sampleRate, f.channels,
                  JsonAudioType(t).c_str());
    } else {
      const Ac3ProbeResult& a = summary.privateAudio[k];
      // TrueHD is offered by its AC-3 core.
      const bool trueHd = t.streamType == 0x83;
      std::printf("%s\n    {\"pid\": %u, \"kind\": \"%s\", \"language\": %s, \"channels\": %u, "
                  "\"lfe\": %u, \"audio_type\": %s%s}",
                  first ? "" : ",", t.pid, a.isEac3 ? "eac3" : "ac3", JsonLanguage(t).c_str(), a.channels, a.lfe,
                  JsonAudioType(t).c_str(), trueHd ? ", \"core_of\": \"truehd\"" : "");
    }
    first = false;
  }
  std::printf("\n  ],\n  \"subtitles\": [");
  bool firstSubtitle = true;
  for (std::uint32_t k = 0; k < summary.notCarriedCount; ++k) {
    const auto& n = summary.notCarried[k];
    if (!IsSubtitleCodec(n.codec)) continue;
    std::printf("%s\n    {\"pid\": %u, \"kind\": \"%s\", \"language\": %s, \"hearing_impaired\": %s}",
                firstSubtitle ? "" : ",", n.pid, CodecKind(n.codec),
                n.language[0] != '\0' ? JsonString(n.language.data()).c_str() : "null",
                n.hearingImpaired ? "true" : "false");
    firstSubtitle = false;
  }
  std::printf("%s],\n  \"not_supported\": %s,\n  \"programmes\": [", firstSubtitle ? "" : "\n  ",
              NotCarriedJsonArray(summary, "  ").c_str());
  const ProgrammeTable& pt = summary.programmes;
  for (std::uint32_t k = 0; k < pt.count(); ++k) {
    const Programme& p = pt[k];
    std::printf("%s\n    {\"number\": %u, \"pmt_pid\": %u, \"taken\": %s, \"streams\": [", k ? "," : "",
                p.number, p.pmtPid, p.number == tracks.programme ? "true" : "false");
    bool firstStream = true;
    for (const PmtEntry& e : p.streams()) {
      std::printf("%s{\"pid\": %u, \"stream_type\": %u}", firstStream ? "" : ", ", e.pid, e.streamType);
      firstStream = false;
    }
    std::printf("]}");
  }
  std::printf("%s]\n}\n", pt.count() ? "\n  " : "");
}

// The programmes of a multiplex, after the rows: "# programme N: ...".
void PrintProgrammes(const ScanSummary& summary, const TrackTable& tracks) {
  const ProgrammeTable& pt = summary.programmes;
  if (pt.count() < 2) return;
  for (std::uint32_t k = 0; k < pt.count(); ++k) {
    const Programme& p = pt[k];
    std::string streams;
    for (const PmtEntry& e : p.streams()) {
      char item[32];
      std::snprintf(item, sizeof item, " 0x%04X(type 0x%02X)", e.pid, e.streamType);
      streams += item;
    }
    std::printf("# programme %u: PMT 0x%04X,%s%s\n", p.number, p.pmtPid,
                p.pmtRead ? (streams.empty() ? " no streams" : streams.c_str()) : " PMT not found",
                p.number == tracks.programme ? " (taken)" : "");
  }
}

// The subtitles of the programme, after the rows: "# subtitles ...".
void PrintSubtitles(const ScanSummary& summary) {
  for (std::uint32_t k = 0; k < summary.notCarriedCount; ++k) {
    const auto& n = summary.notCarried[k];
    if (!IsSubtitleCodec(n.codec)) continue;
    std::printf("# subtitles %s: %s%s%s%s\n", PidText(n.pid).c_str(), CodecName(n.codec),
                n.language[0] != '\0' ? " [" : "", n.language.data(), n.language[0] != '\0' ? "]" : "");
    if (n.hearingImpaired) std::printf("#   for the hard of hearing\n");
  }
}

// Why the streams seen are not in the list, on the error output.
void PrintNotCarried(const ScanSummary& summary) {
  for (std::uint32_t k = 0; k < summary.notCarriedCount; ++k) {
    std::fprintf(stderr, "kelvor-cli scan: %s\n", NotCarriedText(summary.notCarried[k], "not listed").c_str());
  }
}

}  // namespace

int RunScanCommand(int argc, char** argv) {
  bool json = false;
  std::uint32_t programme = 0;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "-v" || arg == "/V" || arg == "/v") {
      verbose = true;
    } else if (arg == "--program" && i + 1 < argc) {
      char* end = nullptr;
      const unsigned long number = std::strtoul(argv[++i], &end, 0);
      if (*end != '\0' || number == 0 || number > 0xFFFF) {
        std::fprintf(stderr, "kelvor-cli scan: --program needs a program_number (1 to 65535)\n%s", kUsage);
        return kExitUsage;
      }
      programme = static_cast<std::uint32_t>(number);
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "kelvor-cli scan: unknown option '%s'\n%s", arg.c_str(), kUsage);
      return kExitUsage;
    } else if (path == nullptr) {
      path = argv[i];
    } else {
      std::fprintf(stderr, "kelvor-cli scan: more than one input\n%s", kUsage);
      return kExitUsage;
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "kelvor-cli scan: no input given\n%s", kUsage);
    return kExitUsage;
  }

  CliUiPort ui;
  InputView input(ui);
  TrackTable tracks;
  H264IdrState idr;
  ScanPass scan(input, tracks, idr, ui);
  tracks.requestedProgramme = programme;
  input.setPath(path);
  ui.holdMessages();
  RunOnWorker([&scan] { scan.run(); });
  // An input that cannot be opened: one line that says which and why, and
  // no rows.
  ui.releaseMessages(input.openError() == 0);
  if (input.openError() != 0) {
    PrintFileError("scan", path, input.openError());
    return kExitInputError;
  }

  const auto rows = ui.rows();
  if (json) {
    // H.264 and HEVC declare their rate deep in the parameter sets: the
    // time stamps tell it.
    const double frameRate = !scan.summary().videoFound ? 0
                             : IsNalVideo(tracks.video.codec)
                                 ? ProbeFramesPerSecond(input, tracks.video.pid, 8u << 20)
                                 : Mpeg2FramesPerSecond(tracks.videoFrameRateCode);
    PrintJson(input, rows, tracks, frameRate, scan.summary());
  } else {
    PrintRows(rows, tracks);
    PrintProgrammes(scan.summary(), tracks);
    PrintSubtitles(scan.summary());
    PrintNotCarried(scan.summary());
  }
  return scan.summary().inputOpened && !scan.summary().inputError ? kExitOk : kExitInputError;
}

}  // namespace kelvor::cli
