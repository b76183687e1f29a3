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
#include <filesystem>
#include <system_error>
#include <vector>

#include "cli/aac_in_program_stream.h"
#include "cli/audio_choice.h"
#include "cli/batch_plan.h"
#include "cli/cli_ui_port.h"
#include "cli/cut_options.h"
#include "cli/drop_report.h"
#include "cli/json_writer.h"
#include "cli/not_carried_text.h"
#include "cli/exit_status.h"
#include "cli/file_checks.h"
#include "cli/worker_thread.h"
#include "common/flags.h"
#include "common/format_time.h"
#include "convert/engine.h"
#include "io/file_identity.h"
#include "io/file_names.h"

namespace kelvor::cli {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "Usage: kelvor-cli convert [OPTIONS] INPUT OUTPUT\n"
    "       kelvor-cli convert [OPTIONS] INPUT... -o OUTDIR\n"
    "\n"
    "Scans INPUT as the desktop program does, then converts it: the video and\n"
    "the chosen audio tracks, re-timed after reception drops. With -o, each\n"
    "INPUT is converted in turn to OUTDIR/<name>.<ext> and a summary follows.\n"
    "\n"
    "  --format mpg|ts|m2ts|dvd|mkv\n"
    "                        output container; by default from OUTPUT's extension\n"
    "                        (.mpg/.mpeg, .ts, .m2ts/.mts, .vob, .mkv; another is\n"
    "                        refused), else M2TS for H.264 and HEVC video and\n"
    "                        MPG otherwise (HEVC: ts or m2ts only). dvd is MPG\n"
    "                        ready for DVD authoring\n"
    "                        (MPEG-2 video of a DVD picture size, audio at 48 kHz);\n"
    "                        mkv is Matroska (H.264 video; chapters at the cuts)\n"
    "  --audio all|PID       all audio tracks (default) or the track with this PID\n"
    "                        as the track list shows it: 0102, [0102] or 0x0102;\n"
    "                        a decimal PID (258) is understood too\n"
    "  --program N           the programme with this program_number (as 'kelvor-cli\n"
    "                        scan' lists them); by default the one that carries\n"
    "                        the first video found\n"
    "  --to-mpeg-audio       convert AC-3/E-AC-3 to MPEG audio (384 kbit/s stereo)\n"
    "  --keep-eac3           write E-AC-3 tracks unchanged into TS, M2TS and MKV output\n"
    "                        (by default, and in MPG and DVD output, they are\n"
    "                        rewritten as AC-3)\n"
    "  --cut START-END       leave out this span (repeatable); times H:MM:SS[.fff]\n"
    "                        or seconds of the video as a player shows it\n"
    "  --keep START-END      keep this span, leave out what no --keep span holds\n"
    "                        (repeatable)\n"
    "  --cuts FILE|auto      the spans of a cut file: an EDL ('START END TYPE' in\n"
    "                        seconds; types 0 and 3 are cut), a marks file\n"
    "                        (H:MM:SS.FF lines, pairs around the parts kept) or\n"
    "                        START-END lines; auto: NAME.edl or NAME.marks\n"
    "                        beside each INPUT, when there is one\n"
    "  --cut-round out|in|nearest\n"
    "                        a cut begins and ends at random-access pictures:\n"
    "                        outward (default: nothing of the span remains),\n"
    "                        inward, or the nearer one\n"
    "  -o, --output-dir DIR  convert every INPUT into DIR (.mpg, .ts, .m2ts, .vob, .mkv);\n"
    "                        DIR is made if it does not exist. A file named\n"
    "                        twice is converted once; inputs whose names differ\n"
    "                        only in the extension or in case are refused\n"
    "  --overwrite           replace outputs that exist (by default they are kept\n"
    "                        and the file is not converted)\n"
    "  --report FILE.json    write every discontinuity met and what was done (not\n"
    "                        over an INPUT or OUTPUT; an existing file only with\n"
    "                        --overwrite)\n"
    "  -v, /V                show stream warnings and each discontinuity\n"
    "  -q                    no progress bar (it is shown only on a terminal)\n"
    "  -h, --help\n"
    "\n"
    "Ctrl-C (or SIGTERM, SIGHUP) stops the conversion; the output written so far\n"
    "is flushed, closed and valid; the files after it are skipped. A second\n"
    "Ctrl-C ends the program at once.\n"
    "\n"
    "Exit status: 0 the whole input was converted; 1 the input could not be read\n"
    "or holds nothing to convert; 2 bad command line, an OUTPUT that is INPUT or\n"
    "exists, or a request that cannot be carried out; 3 the output is valid but\n"
    "ends before the end of the input (a time-stamp jump of more than 10 s, an\n"
    "input error, or a stop); 4 the output could not be written. With several\n"
    "files, the worst of theirs: 4, then 2, 1, 3, 0.\n";

struct Options {
  std::vector<const char*> paths;     // INPUT OUTPUT, or the inputs with -o
  const char* outputDir = nullptr;    // -o: one output per input in this folder
  const char* reportPath = nullptr;
  bool overwrite = false;
  bool verbose = false;
  std::optional<OutputFormat> format;
  std::string audio = "all";  // as typed: read against the track list
  bool toMpegAudio = false;
  bool keepEac3 = false;
  bool quiet = false;
  std::uint32_t programme = 0;  // 0: the one with the first video
  CutOptions cuts;
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
  if (n == "mkv" || n == "matroska") return OutputFormat::Matroska;
  return std::nullopt;
}

// The extension of the file-name part, without its '.'; empty for none
// (".name" has none).
std::string ExtensionOf(const std::string& path) {
  const std::string ext = Utf8OfPath(PathOfUtf8(path).extension());
  return ext.size() > 1 ? ext.substr(1) : std::string();
}

bool HasExtension(const std::string& path) { return !ExtensionOf(path).empty(); }

std::optional<OutputFormat> FormatByExtension(const std::string& path) {
  const std::string ext = Lower(ExtensionOf(path));
  if (ext == "mpg" || ext == "mpeg") return OutputFormat::ProgramStream;
  if (ext == "ts") return OutputFormat::Ts;
  if (ext == "m2ts" || ext == "mts") return OutputFormat::M2ts;
  if (ext == "vob") return OutputFormat::Dvd;
  if (ext == "mkv") return OutputFormat::Matroska;
  return std::nullopt;
}

// Decimal, or hex after "0x": a leading zero does not make octal. At most
// five digits, so that no number is cut to its low bits.
bool ParseNumber(const std::string& text, unsigned long& value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 5) return false;
  for (const char c : digits) {
    if (!(hex ? std::isxdigit(static_cast<unsigned char>(c)) : std::isdigit(static_cast<unsigned char>(c)))) {
      return false;
    }
  }
  value = std::strtoul(digits.c_str(), nullptr, hex ? 16 : 10);
  return true;
}

bool ParseProgramme(const std::string& text, std::uint32_t& programme) {
  unsigned long value = 0;
  if (!ParseNumber(text, value) || value == 0 || value > 0xFFFF) return false;
  programme = static_cast<std::uint32_t>(value);
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
    std::string cutError;
    if (const auto take = o.cuts.Parse(argc, argv, i, cutError); take != CutOptions::Take::NotMine) {
      if (take == CutOptions::Take::Bad) return UsageError(cutError);
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (arg == "-v" || arg == "/V" || arg == "/v") {
      verbose = true;
      o.verbose = true;
    } else if (arg == "--overwrite") {
      o.overwrite = true;
    } else if (arg == "-o" || arg == "--output-dir") {
      if (i + 1 >= argc) return UsageError(arg + " needs a folder");
      o.outputDir = argv[++i];
    } else if (arg == "--report") {
      if (i + 1 >= argc) return UsageError("--report needs a file name");
      o.reportPath = argv[++i];
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else if (arg == "--to-mpeg-audio") {
      o.toMpegAudio = true;
    } else if (arg == "--keep-eac3") {
      o.keepEac3 = true;
    } else if (arg == "--format") {
      std::string name;
      if (!value(name)) return UsageError("--format needs mpg, ts, m2ts or dvd");
      o.format = FormatByName(name);
      if (!o.format) return UsageError("unknown format '" + name + "' (mpg, ts, m2ts or dvd)");
    } else if (arg == "--audio") {
      if (!value(o.audio)) return UsageError("--audio needs 'all' or a PID");
    } else if (arg == "--program") {
      std::string number;
      if (!value(number) || !ParseProgramme(number, o.programme)) {
        return UsageError("--program needs a program_number (1 to 65535)");
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option '" + arg + "'");
    } else {
      o.paths.push_back(argv[i]);
    }
  }
  if (std::string cutError; !o.cuts.Check(cutError)) return UsageError(cutError);
  if (o.outputDir != nullptr) {
    if (o.paths.empty()) return UsageError("no INPUT given");
  } else if (o.paths.size() != 2) {
    return UsageError(o.paths.size() < 2 ? "INPUT and OUTPUT are needed"
                                          : "more than one input and one output given (-o DIR converts several)");
  }
  return -1;
}

const char* StopReason(const ConversionOutcome& r, const InputView& input) {
  if (r.stoppedByTimeJump) return "the video time stamps jumped by more than 10 seconds";
  if (r.inputError && input.cutShort()) return "input error: the input file became shorter while it was read";
  if (r.inputError) return "input error: the input could not be read further";
  if (r.stoppedByUser) return "stopped by the user";
  return "the output failed";
}

// What became of one input, for the batch summary and the report.
struct FileResult {
  std::string input;
  std::string output;
  int status = kExitOk;
  bool converted = false;       // a conversion ran (its figures are meaningful)
  bool skipped = false;         // a stop came before its turn
  std::uint32_t videoSeconds = 0;
  std::int64_t timeCut = 0;     // ticks
  std::string eventsJson = "[]";
  std::size_t eventsLeftOut = 0;
  std::string notSupportedJson = "[]";  // the streams seen and not carried
};

// Before anything is opened for writing: an existing output is kept unless
// --overwrite says otherwise. Only a file with something in it is kept: an
// empty one (made by the shell's redirection) loses nothing, and a pipe or a
// device (/dev/stdout) is written as before.
bool RefuseExisting(const Options& o, const std::string& output) {
  std::error_code ec;
  const fs::path path = PathOfUtf8(output);
  if (o.overwrite || !fs::is_regular_file(path, ec) || fs::file_size(path, ec) == 0 || ec) return false;
  std::fprintf(stderr, "kelvor-cli convert: '%s' exists; nothing was written (--overwrite replaces it)\n",
               output.c_str());
  return true;
}

// Whether two names are one file, by whatever route: the same file when
// both exist, else the same place once "." , ".." and links are resolved.
bool SameFile(const std::string& a, const std::string& b) {
  const auto ia = IdentityOfPath(a);
  const auto ib = IdentityOfPath(b);
  if (ia || ib) return ia && ib && *ia == *ib;
  std::error_code ea;
  std::error_code eb;
  const fs::path ca = fs::weakly_canonical(PathOfUtf8(a), ea);
  const fs::path cb = fs::weakly_canonical(PathOfUtf8(b), eb);
  return !ea && !eb && ca == cb;
}

// Before any work: the report may name no input and no output of the run,
// and obeys the outputs' rule for a file that exists.
bool RefuseReport(const Options& o) {
  if (o.reportPath == nullptr) return false;
  const std::string report = o.reportPath;
  const bool batch = o.outputDir != nullptr;
  for (std::size_t k = 0; k < o.paths.size(); ++k) {
    if (!SameFile(report, o.paths[k])) continue;
    std::fprintf(stderr, "kelvor-cli convert: the report '%s' is the %s '%s'; nothing was written\n",
                 report.c_str(), !batch && k == 1 ? "output" : "input", o.paths[k]);
    return true;
  }
  return RefuseExisting(o, report);
}

// Without --format and an output extension that names one: by the video.
OutputFormat DefaultFormat(const TrackTable& tracks) {
  return IsNalVideo(tracks.video.codec) ? OutputFormat::M2ts : OutputFormat::ProgramStream;
}

// Converts one input; `output` empty: named in the output folder after the scan.
int ConvertFile(const Options& o, const std::string& input, std::string output, FileResult& r,
                DropReport& report, const std::string& heading) {
  r.input = input;
  r.output = output;
  if (!output.empty() && OutputIsInput("convert", input, output)) return kExitUsage;

  if (!heading.empty()) std::fprintf(stderr, "%s %s\n", heading.c_str(), input.c_str());
  CliUiPort ui;
  auto engine = std::make_unique<Engine>(ui);
  engine->setInputPath(input);
  engine->tracks().requestedProgramme = o.programme;
  ui.holdMessages();
  RunOnWorker([&engine] { engine->runScan(); });
  const ScanSummary& scan = engine->scanSummary();
  // An input that cannot be opened: one line that says which and why.
  const bool openFailed = !scan.inputOpened && engine->input().openError() != 0;
  ui.releaseMessages(!openFailed);
  if (openFailed) PrintFileError("convert", input, engine->input().openError());
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
  if (!SelectAudio(o.audio, tracks, ui.rows())) return kExitUsage;
  const OutputFormat format = o.format                                  ? *o.format
                              : output.empty() || !FormatByExtension(output) ? DefaultFormat(tracks)
                                                                             : *FormatByExtension(output);
  // What is named as not converted: what the scan left out, and outside
  // TS and M2TS the AAC tracks.
  auto notCarried = std::make_unique<ScanSummary>(scan);
  if (format != OutputFormat::Ts && format != OutputFormat::M2ts &&
      !LeaveOutAacTracks(tracks, *notCarried)) {
    return kExitUsage;
  }
  r.notSupportedJson = NotCarriedJsonArray(*notCarried, "      ");
  for (std::uint32_t k = 0; k < notCarried->notCarriedCount && !o.quiet; ++k) {
    std::fprintf(stderr, "kelvor-cli convert: %s\n",
                 NotCarriedText(notCarried->notCarried[k], "not converted").c_str());
  }
  if (tracks.audioCount == 0 && !o.quiet) {
    std::fputs("kelvor-cli convert: no supported audio track: the video is converted alone\n", stderr);
  }

  CutList cuts;
  std::string cutFile;
  if (o.cuts.given()) {
    // Marks count frames: at 25 Hz when the video does not tell.
    const double fps = o.cuts.CountsFrames(input) ? engine->videoFramesPerSecond() : 0;
    std::string error;
    if (!o.cuts.ListFor(input, fps > 0 ? fps : 25.0, cuts, cutFile, error)) {
      std::fprintf(stderr, "kelvor-cli convert: %s; nothing was written\n", error.c_str());
      return kExitUsage;
    }
  }

  ConversionRequest request;
  request.convertAc3ToMpeg = o.toMpegAudio;
  request.keepEac3 = o.keepEac3;
  request.cuts = cuts.spans();
  request.cutRounding = o.cuts.rounding();
  request.cutSource = cutFile.empty() ? "--cut/--keep" : cutFile;
  request.cutUnit = cutFile.empty() ? "span" : "line";
  request.format = format;
  if (output.empty()) {
    output = r.output = BatchOutputPath(o.outputDir, input, request.format);
    if (!heading.empty()) std::fprintf(stderr, "%*s -> %s\n", static_cast<int>(heading.size()), "", output.c_str());
    if (const int error = MakeOutputFolder(o.outputDir); error != 0) {
      PrintFileError("convert", o.outputDir, error);
      return kExitOutputError;
    }
    if (OutputIsInput("convert", input, output)) return kExitUsage;
  }
  // After the scan, so that an input that cannot be read says so first.
  if (!o.format && HasExtension(output) && !FormatByExtension(output)) {
    // A name without an extension (a pipe, /dev/stdout) takes the format
    // from the video; an extension no format has would get a misnamed file.
    std::fprintf(stderr,
                 "kelvor-cli convert: '%s': unknown output extension (.mpg, .mpeg, .ts, .m2ts, .mts, .vob "
                 "or .mkv), or say what to write with --format mpg|ts|m2ts|dvd|mkv\n",
                 output.c_str());
    return kExitUsage;
  }
  if (RefuseExisting(o, output)) return kExitUsage;
  if (o.reportPath != nullptr && SameFile(output, o.reportPath)) {
    std::fprintf(stderr, "kelvor-cli convert: the output '%s' is the report file; nothing was written\n",
                 output.c_str());
    return kExitUsage;
  }
  request.outputPath = output;
  {
    std::error_code ec;
    request.outputMustBeNew = !o.overwrite && !fs::exists(fs::symlink_status(PathOfUtf8(output), ec));
    request.outputMustBeEmpty = !o.overwrite;
  }

  report.Begin(&engine->convertedTracks(), o.verbose ? &ui : nullptr);
  engine->setEvents(&report);
  ui.enableProgressBar(!o.quiet && ::isatty(STDERR_FILENO) != 0, engine->input().fileSize());
  ConversionOutcome result;
  RunOnWorker([&] { result = engine->runConversion(request); });
  if (result.reachedEndOfInput && !result.outputError) ui.completeProgress();
  ui.endProgressLine();
  r.converted = result.outputOpened;
  r.videoSeconds = result.videoSeconds;
  r.timeCut = result.timeRemoved;
  r.eventsJson = report.JsonEvents();
  r.eventsLeftOut = report.eventsLeftOut();

  if (result.refused) return kExitUsage;
  const int outputFailure = engine->output().lastError();
  if (!result.outputOpened) {
    if (result.inputError) return kExitInputError;
    if (outputFailure == EEXIST) {
      std::fprintf(stderr, "kelvor-cli convert: the output '%s' is the input file; nothing was written\n",
                   output.c_str());
      return kExitUsage;
    }
    // Another run took the name first: its file is left alone.
    if (outputFailure == kCreatedMeanwhile || outputFailure == kInUse) {
      PrintFileError("convert", output, outputFailure);
      return kExitUsage;
    }
    PrintFileError("convert", output, outputFailure);
    return kExitOutputError;
  }
  // The writer has shown the system's text; the path and the reason follow,
  // and no final report claims success.
  if (result.outputError) {
    if (outputFailure != 0) PrintFileError("convert", output, outputFailure);
    return kExitOutputError;
  }
  // A stop is a stop whenever it comes, even before the first picture; a
  // run without one whole picture did not convert anything.
  if (!result.videoWritten && !result.stoppedByUser) {
    std::fputs("kelvor-cli convert: no video was written: the input has no audio time stamp to "
               "start from, or its video never starts or ends before its first whole picture\n",
               stderr);
    return kExitInputError;
  }
  ui.printReport();
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

// The order in which one file's status outweighs another's.
int Severity(int status) {
  switch (status) {
    case kExitOutputError: return 4;
    case kExitUsage: return 3;
    case kExitInputError: return 2;
    case kExitCutShort: return 1;
    default: return 0;
  }
}

const char* StatusWord(int status) {
  switch (status) {
    case kExitOk: return "ok";
    case kExitInputError: return "input error";
    case kExitUsage: return "refused";
    case kExitCutShort: return "cut short";
    case kExitOutputError: return "output error";
    default: return "?";
  }
}

void PrintSummary(const std::vector<FileResult>& results) {
  std::size_t width = 4;
  for (const FileResult& r : results) width = std::max(width, r.input.size());
  std::printf("%-*s  %-10s  %10s  %s\n", static_cast<int>(width), "file", "video time", "time cut", "status");
  for (const FileResult& r : results) {
    const std::string cut = r.converted ? Seconds(r.timeCut) + " s" : "-";
    std::printf("%-*s  %-10s  %10s  %d %s\n", static_cast<int>(width), r.input.c_str(),
                r.converted ? FormatTime(r.videoSeconds).c_str() : "-", cut.c_str(), r.status,
                r.skipped ? "skipped" : StatusWord(r.status));
  }
  std::fflush(stdout);
}

bool WriteReport(const char* path, const std::vector<FileResult>& results) {
  std::string json = "{\n  \"files\": [";
  for (std::size_t k = 0; k < results.size(); ++k) {
    const FileResult& r = results[k];
    json += k == 0 ? "\n" : ",\n";
    json += "    {\n      \"input\": " + JsonString(r.input) + ",\n      \"output\": " + JsonString(r.output) +
            ",\n      \"status\": " + std::to_string(r.status) + ",\n      \"converted\": " +
            (r.converted ? "true" : "false") + ",\n      \"skipped\": " + (r.skipped ? "true" : "false") +
            ",\n      \"video_time\": " + std::to_string(r.videoSeconds) +
            ",\n      \"time_cut\": " + Seconds(r.timeCut) + ",\n      \"events_left_out\": " +
            std::to_string(r.eventsLeftOut) + ",\n      \"not_supported\": " + r.notSupportedJson +
            ",\n      \"events\": " + r.eventsJson + "\n    }";
  }
  json += "\n  ]\n}\n";
  std::FILE* f = OpenFile(path, "wb");
  const bool ok = f != nullptr && std::fwrite(json.data(), 1, json.size(), f) == json.size();
  const int error = errno;
  if (f != nullptr && std::fclose(f) != 0 && ok) {
    PrintFileError("convert", path, errno);
    return false;
  }
  if (!ok) PrintFileError("convert", path, error);
  return ok;
}

}  // namespace

int RunConvertCommand(int argc, char** argv) {
  Options o;
  if (const int status = ParseOptions(argc, argv, o); status >= 0) return status;
  if (RefuseReport(o)) return kExitUsage;
  const bool batch = o.outputDir != nullptr;
  const std::vector<std::string> inputs =
      batch ? UniqueInputs(o.paths) : std::vector<std::string>{o.paths[0]};
  // Outputs that would overwrite each other refuse the run before anything
  // is written: converting them would keep only the last one.
  if (batch && OutputNamesCollide(inputs)) {
    std::fputs("kelvor-cli convert: nothing was written; convert these files into different folders\n", stderr);
    return kExitUsage;
  }
  DropReport report;
  std::vector<FileResult> results;
  int worst = kExitOk;
  const std::size_t count = inputs.size();
  for (std::size_t k = 0; k < count; ++k) {
    FileResult& r = results.emplace_back();
    r.input = inputs[k];
    if (abortRequested) {
      r.status = kExitCutShort;  // a stop skips the files after the one it ended
      r.skipped = true;
    } else {
      // Appended, not "[" + std::string: GCC 12 at -O3 warns of an overlap
      // there (-Wrestrict) that cannot happen.
      std::string heading;
      if (batch && !o.quiet) {
        heading.append("[").append(std::to_string(k + 1)).append("/").append(std::to_string(count)).append("]");
      }
      r.status = ConvertFile(o, inputs[k], batch ? std::string() : std::string(o.paths[1]), r, report, heading);
    }
    if (Severity(r.status) > Severity(worst)) worst = r.status;
  }
  if (batch) PrintSummary(results);
  if (o.reportPath != nullptr) {
    // Only a run that converted something has something to report; a report
    // that appeared meanwhile is kept as any output would be.
    const bool anyConverted =
        std::any_of(results.begin(), results.end(), [](const FileResult& r) { return r.converted; });
    if (!anyConverted) {
      std::fprintf(stderr, "kelvor-cli convert: no report written: nothing was converted\n");
    } else if (RefuseExisting(o, o.reportPath)) {
      if (Severity(kExitUsage) > Severity(worst)) worst = kExitUsage;
    } else if (!WriteReport(o.reportPath, results)) {
      worst = kExitOutputError;
    }
  }
  return worst;
}

}  // namespace kelvor::cli
