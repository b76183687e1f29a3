#include "cli/convert_command.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "cli/cli_ui_port.h"
#include "cli/exit_status.h"
#include "cli/file_checks.h"
#include "cli/interrupt.h"
#include "common/flags.h"
#include "common/format_time.h"
#include "convert/engine.h"

namespace kelvor::cli {
namespace {

constexpr const char* kUsage =
    "Usage: kelvor-cli convert [OPTIONS] INPUT OUTPUT\n"
    "\n"
    "Scans INPUT as the desktop program does, then converts it: the video and\n"
    "the chosen audio tracks, re-timed after reception drops.\n"
    "\n"
    "  --format mpg|ts|m2ts|dvd\n"
    "                        output container; by default from OUTPUT's extension\n"
    "                        (.mpg/.mpeg, .ts, .m2ts/.mts, .vob), else M2TS for\n"
    "                        H.264 video and MPG otherwise. dvd is MPG ready for\n"
    "                        DVD authoring (MPEG-2 video of a DVD picture size)\n"
    "  --audio all|PID       all audio tracks (default) or the track with this PID,\n"
    "                        hex (0x1100) or decimal, as 'kelvor-cli scan' prints it\n"
    "  --program N           the programme with this program_number (as 'kelvor-cli\n"
    "                        scan' lists them); by default the one that carries\n"
    "                        the first video found\n"
    "  --to-mpeg-audio       convert AC-3/E-AC-3 to MPEG audio (384 kbit/s stereo)\n"
    "  -v, /V                show stream warnings\n"
    "  -q                    no progress bar (it is shown only on a terminal)\n"
    "  -h, --help\n"
    "\n"
    "Ctrl-C (or SIGTERM, SIGHUP) stops the conversion; the output written so far\n"
    "is flushed, closed and valid. A second Ctrl-C ends the program at once.\n"
    "\n"
    "Exit status: 0 the whole input was converted; 1 the input could not be read\n"
    "or holds nothing to convert; 2 bad command line, an OUTPUT that is INPUT, or a\n"
    "request that cannot be carried out; 3 the output is valid but ends before\n"
    "the end of the input (a time-stamp jump of more than 10 s, an input error,\n"
    "or a stop); 4 the output could not be written.\n";

struct Options {
  const char* input = nullptr;
  const char* output = nullptr;
  std::optional<OutputFormat> format;
  bool allAudio = true;
  std::uint32_t audioPid = 0;
  bool toMpegAudio = false;
  bool quiet = false;
  std::uint32_t programme = 0;  // 0: the one with the first video
};

int UsageError(const std::string& what) {
  std::fprintf(stderr, "kelvor-cli convert: %s\n%s", what.c_str(), kUsage);
  return kExitUsage;
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

std::optional<OutputFormat> FormatByName(const std::string& name) {
  const std::string n = Lower(name);
  if (n == "mpg" || n == "mpeg" || n == "ps") return OutputFormat::ProgramStream;
  if (n == "ts") return OutputFormat::Ts;
  if (n == "m2ts" || n == "mts") return OutputFormat::M2ts;
  if (n == "dvd" || n == "vob") return OutputFormat::Dvd;
  return std::nullopt;
}

std::optional<OutputFormat> FormatByExtension(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return std::nullopt;
  const std::string ext = Lower(path.substr(dot + 1));
  if (ext == "mpg" || ext == "mpeg") return OutputFormat::ProgramStream;
  if (ext == "ts") return OutputFormat::Ts;
  if (ext == "m2ts" || ext == "mts") return OutputFormat::M2ts;
  if (ext == "vob") return OutputFormat::Dvd;
  return std::nullopt;
}

// Decimal, or hex after "0x": a leading zero does not make octal.
bool ParsePid(const std::string& text, std::uint32_t& pid) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 5) return false;
  for (const char c : digits) {
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c)))) {
      return false;
    }
  }
  const unsigned long value = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
  if (value > 0x1FFF) return false;
  pid = static_cast<std::uint32_t>(value);
  return true;
}

// -1 when the command line is fine, else the exit status.
int ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "-v" || arg == "/V" || arg == "/v") {
      verbose = true;
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--to-mpeg-audio") {
      o.toMpegAudio = true;
    } else if (arg == "--format") {
      std::string name;
      if (!value(name)) return UsageError("--format needs mpg, ts, m2ts or dvd");
      o.format = FormatByName(name);
      if (!o.format) return UsageError("unknown format '" + name + "' (mpg, ts, m2ts or dvd)");
    } else if (arg == "--audio") {
      std::string which;
      if (!value(which)) return UsageError("--audio needs 'all' or a PID");
      o.allAudio = Lower(which) == "all";
      if (!o.allAudio && !ParsePid(which, o.audioPid)) {
        return UsageError("'" + which + "' is not a PID (hex 0x1100 or decimal)");
      }
    } else if (arg == "--program") {
      std::string number;
      char* end = nullptr;
      if (!value(number) || number.empty() ||
          (o.programme = static_cast<std::uint32_t>(std::strtoul(number.c_str(), &end, 0)), *end != '\0') ||
          o.programme == 0 || o.programme > 0xFFFF) {
        return UsageError("--program needs a program_number (1 to 65535)");
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'");
    } else if (o.input == nullptr) {
      o.input = argv[i];
    } else if (o.output == nullptr) {
      o.output = argv[i];
    } else {
      return UsageError("more than one input and one output given");
    }
  }
  if (o.input == nullptr || o.output == nullptr) return UsageError("INPUT and OUTPUT are needed");
  return -1;
}

// Sets the selection as the track list would: false when the PID asked for
// is not one of the listed tracks.
bool SelectAudio(const Options& o, TrackTable& t) {
  const TrackChoice* found = nullptr;
  for (std::uint32_t k = 0; k < t.trackChoiceCount && k < kMaxTrackChoices; ++k) {
    const TrackChoice& c = t.trackChoices[k];
    if (o.allAudio ? c.pid == kAllTracks : c.pid == o.audioPid) found = &c;
  }
  // A single listed track has no "All audio tracks" row: it is the choice.
  if (o.allAudio && found == nullptr && t.trackChoiceCount == 1) found = &t.trackChoices[0];
  if (found == nullptr) return false;
  t.selectedAudioPid = found->pid;
  t.selectedIsPrivate = false;
  for (std::uint32_t j = 0; j < t.privateAudioCount && j < kMaxPrivateAudioTracks; ++j) {
    if (t.privateAudioPid[j] == found->pid) t.selectedIsPrivate = true;
  }
  return true;
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

const char* StopReason(const ConversionOutcome& r, const InputView& input) {
  if (r.stoppedByTimeJump) return "the video time stamps jumped by more than 10 seconds";
  if (r.inputError && input.cutShort()) return "input error: the input file became shorter while it was read";
  if (r.inputError) return "input error: the input could not be read further";
  if (r.stoppedByUser) return "stopped by the user";
  return "the output failed";
}

}  // namespace

int RunConvertCommand(int argc, char** argv) {
  Options o;
  if (const int status = ParseOptions(argc, argv, o); status >= 0) return status;
  if (OutputIsInput("convert", o.input, o.output)) return kExitUsage;

  CliUiPort ui;
  auto engine = std::make_unique<Engine>(ui);
  engine->setInputPath(o.input);
  engine->tracks().requestedProgramme = o.programme;
  abortRequested = false;
  InstallInterruptHandler();
  {
    std::thread worker([&engine] { engine->runScan(); });
    worker.join();
  }
  const ScanSummary& scan = engine->scanSummary();
  if (!scan.inputOpened && engine->input().openError() != 0) {
    PrintFileError("convert", o.input, engine->input().openError());
  }
  if (!scan.inputOpened || scan.inputError) return kExitInputError;
  if (abortRequested) {
    std::fputs("kelvor-cli convert: interrupted during the scan; no output written\n", stderr);
    return kExitCutShort;
  }
  TrackTable& tracks = engine->tracks();
  if (tracks.trackChoiceCount == 0) {
    std::fputs("kelvor-cli convert: nothing to convert (the scan lists no usable track)\n", stderr);
    return kExitInputError;
  }
  if (!SelectAudio(o, tracks)) {
    std::fprintf(stderr, "kelvor-cli convert: PID 0x%04X is not a listed audio track; the tracks are:\n",
                 o.audioPid);
    PrintChoices(tracks, ui.rows());
    return kExitUsage;
  }

  ConversionRequest request;
  request.outputPath = o.output;
  request.convertAc3ToMpeg = o.toMpegAudio;
  if (o.format) {
    request.format = *o.format;
  } else if (auto byExtension = FormatByExtension(o.output)) {
    request.format = *byExtension;
  } else {
    request.format = tracks.videoIsH264 ? OutputFormat::M2ts : OutputFormat::ProgramStream;
  }

  ui.enableProgressBar(!o.quiet && ::isatty(STDERR_FILENO) != 0);
  abortRequested = false;
  ConversionOutcome result;
  {
    std::thread worker([&] { result = engine->runConversion(request); });
    worker.join();
  }
  ui.endProgressLine();

  if (result.refused) return kExitUsage;
  const int outputFailure = engine->output().lastError();
  if (!result.outputOpened) {
    if (result.inputError) return kExitInputError;
    if (outputFailure == EEXIST) {
      std::fprintf(stderr, "kelvor-cli convert: the output '%s' is the input file; nothing was written\n",
                   o.output);
      return kExitUsage;
    }
    PrintFileError("convert", o.output, outputFailure);
    return kExitOutputError;
  }
  // The writer has shown the system's text; the path and the reason follow,
  // and no final report claims success.
  if (result.outputError) {
    if (outputFailure != 0) PrintFileError("convert", o.output, outputFailure);
    return kExitOutputError;
  }
  ui.printReport();
  if (!result.videoWritten) {
    std::fputs("kelvor-cli convert: no video was written: the input has no audio time stamp to "
               "start from, or its video never starts\n",
               stderr);
    return kExitInputError;
  }
  if (!result.reachedEndOfInput) {
    const std::uint64_t size = engine->input().fileSize();
    const double percent = size == 0 ? 0.0 : 100.0 * static_cast<double>(result.inputOffset) /
                                                  static_cast<double>(size);
    std::fprintf(stderr,
                 "kelvor-cli convert: the output ends before the end of the input: %s, at input "
                 "offset %llu of %llu (%.1f%%), video time %s\n",
                 StopReason(result, engine->input()), static_cast<unsigned long long>(result.inputOffset),
                 static_cast<unsigned long long>(size), percent,
                 FormatTime(result.videoSeconds).c_str());
    return kExitCutShort;
  }
  return kExitOk;
}

}  // namespace kelvor::cli
