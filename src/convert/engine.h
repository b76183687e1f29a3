#pragma once
// Everything a run of the program needs, created once at start-up and wired
// by reference: the input window, the track table, the output writer, the
// multiplexer, the stream handlers and the audio converters. A front end
// (desktop program or command line) owns one Engine and runs its two passes
// on a worker thread, one at a time.
#include <cstdint>
#include <string>

#include "common/ui_port.h"
#include "io/input_view.h"
#include "mux/mux_layout.h"
#include "scan/scan_pass.h"
#include "scan/track_table.h"
#include "scan/video_probe.h"

namespace kelvor {

struct ConversionRequest {
  std::string outputPath;
  OutputFormat format = OutputFormat::ProgramStream;
  bool convertAc3ToMpeg = false;  // the "Convert AC3 to MPEG audio" check box
};

// How a conversion ended, for front ends that report more than the final
// message (the command line says where a cut-short output stopped).
struct ConversionOutcome {
  bool outputOpened = false;
  bool reachedEndOfInput = false;   // all the data was converted
  bool stoppedByUser = false;
  bool stoppedByTimeJump = false;   // the video time base jumped by more than 10 s
  bool inputError = false;
  bool outputError = false;
  std::uint64_t inputOffset = 0;    // where the conversion stopped reading
  std::uint32_t videoSeconds = 0;   // the video time reached
};

class Engine {
 public:
  explicit Engine(UiPort& ui);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  void setInputPath(std::string path) { input_.setPath(std::move(path)); }
  const InputView& input() const { return input_; }
  TrackTable& tracks() { return tracks_; }
  const ScanSummary& scanSummary() const { return scan_.summary(); }

  // The scan worker's body: lists the tracks through the UI, then finished().
  void runScan();
  // The conversion worker's body: converts the scanned input with the
  // track chosen in tracks().selectedAudioPid, shows the final message,
  // then finished().
  ConversionOutcome runConversion(const ConversionRequest& request);

 private:
  UiPort& ui_;
  InputView input_;
  TrackTable tracks_;
  H264IdrState idr_;
  ScanPass scan_;
};

}  // namespace kelvor
