#pragma once
// Everything a run of the program needs, created once at start-up and wired
// by reference: the input window, the track table, the output writer, the
// multiplexer, the stream handlers and the audio converters. A front end
// (desktop program or command line) owns one Engine and runs its two passes
// on a worker thread, one at a time.
#include <cstdint>
#include <memory>
#include <string>

#include "common/ui_port.h"
#include "convert/aac_assembler.h"
#include "convert/ac3_assembler.h"
#include "convert/audio_paths.h"
#include "convert/conversion_events.h"
#include "convert/conversion_pass.h"
#include "convert/cut_plan.h"
#include "convert/gop_index.h"
#include "convert/matroska_output.h"
#include "convert/mpeg_audio_assembler.h"
#include "convert/h264_video_handler.h"
#include "convert/mpeg2_video_handler.h"
#include "io/input_view.h"
#include "io/output_writer.h"
#include "mux/multiplexer.h"
#include "mux/mux_layout.h"
#include "mux/run_settings.h"
#include "convert/stream_timing.h"
#include "scan/scan_pass.h"
#include "scan/track_table.h"
#include "scan/video_probe.h"

namespace kelvor {

class Engine {
 public:
  explicit Engine(UiPort& ui);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  void setInputPath(std::string path) { input_.setPath(std::move(path)); }
  const InputView& input() const { return input_; }
  const OutputWriter& output() const { return output_; }
  TrackTable& tracks() { return tracks_; }
  const ScanSummary& scanSummary() const { return scan_.summary(); }
  // After the scan: the video's frames per second (MPEG-2: as its sequence
  // header says; H.264: as its first time stamps show), 0 when unknown.
  double videoFramesPerSecond();

  // The scan worker's body: lists the tracks through the UI, then finished().
  void runScan();
  // The conversion worker's body: converts the scanned input with the
  // track chosen in tracks().selectedAudioPid, shows the final message,
  // then finished(). A file without a track to convert is refused.
  ConversionOutcome runConversion(const ConversionRequest& request);

  // The track table of the last conversion.
  const TrackTable& convertedTracks() const { return runTracks_; }
  const StreamTiming& timing() const { return timing_; }
  // Who hears of each discontinuity of the next conversions (none: nobody).
  void setEvents(ConversionEvents* listener) { drops_.SetListener(listener); }

 private:
  // Copies the user's choice into runTracks_; false (after a message) when
  // there is nothing to convert.
  bool prepareTracks(const ConversionRequest& request);

  UiPort& ui_;
  InputView input_;
  TrackTable tracks_;
  TrackTable runTracks_;
  H264IdrState idr_;
  ScanPass scan_;

  OutputWriter output_;
  RunSettings run_;
  StreamTiming timing_;
  DropTracker drops_{input_, timing_.videoTime};
  GopIndex gops_;
  CutPlan cuts_{input_, timing_};
  MatroskaOutput matroska_{output_, runTracks_, run_, cuts_};
  Multiplexer mux_;
  AudioPaths converter_;
  std::unique_ptr<VideoStore> videoStore_ = std::make_unique<VideoStore>();
  Mpeg2VideoHandler mpeg2Video_;
  H264VideoHandler h264Video_;
  H264VideoHandler hevcVideo_;
  MpegAudioAssembler mpegAudio_;
  Ac3Assembler ac3_;
  AacAssembler aac_;
  ConversionPass pass_;
};

}  // namespace kelvor
