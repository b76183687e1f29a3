#pragma once
// The second pass over the input: reads the transport stream packet by
// packet, picks out the PES packets of the video and of the selected audio
// tracks, decides when each audio track starts, and hands the payload bytes
// to the video handler and the audio assemblers, which feed the multiplexer.
#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "common/string_table.h"
#include "common/ui_port.h"
#include "convert/aac_assembler.h"
#include "convert/ac3_assembler.h"
#include "convert/audio_converter.h"
#include "convert/mpeg_audio_assembler.h"
#include "convert/pid_routes.h"
#include "convert/run_setup.h"
#include "common/cut_list.h"
#include "common/ts_packet.h"
#include "convert/cut_plan.h"
#include "convert/gop_index.h"
#include "convert/video_handler.h"
#include "io/input_view.h"
#include "io/output_writer.h"
#include "mux/multiplexer.h"
#include "mux/mux_layout.h"
#include "mux/run_settings.h"
#include "convert/stream_timing.h"
#include "scan/track_table.h"

namespace kelvor {

struct ConversionRequest {
  std::string outputPath;
  OutputFormat format = OutputFormat::ProgramStream;
  bool convertAc3ToMpeg = false;  // the "Convert AC3 to MPEG audio" check box
  // E-AC-3 goes out as it came (TS and M2TS only; elsewhere it is
  // rewritten as AC-3).
  bool keepEac3 = false;
  // The output did not exist when it was checked: it is created only if it
  // still does not (another run may have taken the name meanwhile).
  bool outputMustBeNew = false;
  // An output that exists may be replaced only while it is still empty.
  bool outputMustBeEmpty = false;
  // Spans of input time to remove (none: the whole input), how they meet
  // the video's random-access points, and how messages name the list
  // (the cut file and "line", or the options).
  std::vector<CutSpan> cuts;
  CutRounding cutRounding = CutRounding::Out;
  std::string cutSource;
  std::string cutUnit = "line";
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
  bool refused = false;             // the request cannot be converted (nothing written)
  bool videoWritten = false;        // at least one whole picture was written
  std::uint64_t inputOffset = 0;    // where the conversion stopped reading
  std::uint32_t videoSeconds = 0;   // the video time reached
  std::int64_t timeRemoved = 0;     // ticks of input time closed up after drops
  std::uint32_t cutsMade = 0;       // cuts the user asked for that removed something
  std::int64_t timeCutOut = 0;      // ticks of input time those removed
};

class ConversionPass {
 public:
  ConversionPass(UiPort& ui, InputView& input, OutputWriter& output, TrackTable& tracks,
                 RunSettings& run, StreamTiming& timing, Multiplexer& mux, VideoHandler& mpeg2Video,
                 VideoHandler& h264Video, VideoHandler& hevcVideo,
                 MpegAudioAssembler& mpegAudio, Ac3Assembler& ac3, AacAssembler& aac, AudioConverter& converter,
                 GopIndex& gops, CutPlan& cuts);

  // Converts the input named by the input view; shows the final message.
  // Runs on a worker thread and polls abortRequested after every packet.
  ConversionOutcome run(const ConversionRequest& request);

 private:
  // Continuity of one routed PID: the rest of a PES is taken only while its
  // packets arrive in order.
  struct Continuity {
    bool active = false;
    std::uint8_t expected = 0;
    // The last packet handled was a PES start; the head of its payload.
    bool lastWasStart = false;
    std::array<std::uint8_t, 32> startHead{};
  };
  enum class Step : std::uint8_t { Next, Repeat, Break };

  void ResetRun();
  // Reads the input once for its random-access points and places the cuts
  // asked for on them; false (after a message) when they cannot be made
  // (the outcome says why: refused, or an input error).
  bool PlanCuts(const ConversionRequest& request, ConversionOutcome& outcome);
  // False when a handler reported a refused output packet.
  bool RoutePacket(const std::uint8_t* p);
  bool RoutePesStart(const std::uint8_t* p, const TsHeader& h);
  bool RouteContinuation(const std::uint8_t* p, const TsHeader& h);
  // After a piece of video: once the video has placed a time stamp that came
  // after audio frames were kept back, those go out. False only when the
  // output refused a packet.
  bool AfterVideo(const VideoStep& step);
  // The PES start of audio track k: its start rule, then its handler.
  bool StartAudioPes(std::uint32_t k, std::span<const std::uint8_t> payload, const PesStart& pes,
                     const std::uint8_t* p, const TsHeader& h);
  // A later packet of audio track k's PES.
  bool ContinueAudioPes(std::uint32_t k, std::span<const std::uint8_t> payload, const TsHeader& h);
  bool ReleaseHeldAudio();
  // The start rule shared by all audio tracks.
  bool StartAudio(bool& started, const PesStart& pes);
  void WarnOnce(StringId id);
  void UpdateDisplay(std::uint32_t bytes);
  static Step ContinuityStep(Continuity& c, std::uint8_t cc);
  // A PES start that repeats the packet before it is not handled twice.
  static bool IsRepeat(const Continuity& c, const std::uint8_t* p, const TsHeader& h);
  static void NoteStart(Continuity& c, const std::uint8_t* p, const TsHeader& h);

  UiPort& ui_;
  InputView& input_;
  OutputWriter& output_;
  TrackTable& tracks_;
  RunSettings& run_;
  StreamTiming& timing_;
  Multiplexer& mux_;
  VideoHandler& mpeg2Video_;
  VideoHandler& h264Video_;
  VideoHandler& hevcVideo_;
  VideoHandler* video_;  // the one of the run's video codec
  MpegAudioAssembler& mpegAudio_;
  Ac3Assembler& ac3_;
  AacAssembler& aac_;
  AudioConverter& converter_;
  GopIndex& gops_;
  CutPlan& cuts_;

  std::uint32_t packetSize_ = 188;
  std::array<Continuity, kMaxAudioTracks> audioCont_{};  // by track table index
  // Built at the start of each run: each PID's route, and each audio
  // track's handler and its slot there.
  PidRoutes routes_;
  struct AudioRoute {
    AudioHandler* handler = nullptr;
    std::uint32_t slot = 0;
  };
  std::array<AudioRoute, kMaxAudioTracks> audioRoutes_{};
  std::array<AudioHandler*, 3> audioHandlers_{};
  Continuity videoCont_{};
  bool videoStampOpen_ = false;   // the last video PES time stamp is not placed yet
  bool videoStampPlaced_ = false; // one was placed: held audio may go
  std::uint32_t bytesSinceLastMiB_ = 0;
  std::uint32_t mibDone_ = 0;
  std::uint32_t lastPercent_ = 0;
  std::uint32_t lastSeconds_ = 0;
  std::uint32_t warningsShown_ = 0;  // one bit per stream warning
};

}  // namespace kelvor
