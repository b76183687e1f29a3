#include "convert/conversion_pass.h"

#include <algorithm>
#include <span>
#include <string>
#include <string_view>

#include "common/flags.h"
#include "common/format_time.h"
#include "common/mpeg_ids.h"
#include "common/show_message.h"
#include "common/string_table.h"
#include "convert/conversion_events.h"

namespace kelvor {
namespace {


// The string-table text `id` with its one "%s" replaced by `value`.
std::string FormatText(StringId id, std::string_view value) {
  std::string text(LoadString(id));
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, value);
  return text;
}

// After a stop, packets read at most until the picture being written ends
// (about a megabyte: a large picture of a high-rate stream).
constexpr std::uint32_t kStopPackets = 6000;

// A packet sent twice is left out; the report counts it.
bool NoteRepeat(StreamTiming& timing) {
  if (timing.drops != nullptr) timing.drops->Repeat();
  return true;
}

std::span<const std::uint8_t> PayloadFrom(const std::uint8_t* p, std::uint32_t start) {
  return {p + start, kTsPacketBytes - start};
}

}  // namespace

ConversionPass::ConversionPass(UiPort& ui, InputView& input, OutputWriter& output, TrackTable& tracks,
                               RunSettings& run, StreamTiming& timing, Multiplexer& mux,
                               VideoHandler& mpeg2Video, VideoHandler& h264Video, VideoHandler& hevcVideo,
                               MpegAudioAssembler& mpegAudio,
                               Ac3Assembler& ac3, AacAssembler& aac,
                               AudioConverter& converter, GopIndex& gops, CutPlan& cuts)
    : ui_(ui),
      input_(input),
      output_(output),
      tracks_(tracks),
      run_(run),
      timing_(timing),
      mux_(mux),
      mpeg2Video_(mpeg2Video),
      h264Video_(h264Video),
      hevcVideo_(hevcVideo),
      video_(&mpeg2Video),
      mpegAudio_(mpegAudio),
      ac3_(ac3),
      aac_(aac),
      converter_(converter),
      gops_(gops),
      cuts_(cuts),
      audioHandlers_{&mpegAudio, &ac3, &aac} {}

bool ConversionPass::PlanCuts(const ConversionRequest& request, ConversionOutcome& outcome) {
  cuts_.Clear();
  if (request.cuts.empty()) return true;
  std::string refusal;
  if (tracks_.video.pid == 0 || !IsVideoCodec(run_.videoCodec)) {
    refusal = request.cutSource + ": cuts are made on the video, and this input has none";
  } else if (run_.videoCodec == Codec::Hevc) {
    // The cut index finds MPEG-2 and H.264 random-access points only.
    refusal = request.cutSource + ": cuts are not made in HEVC video";
  } else if (!gops_.Build(input_, tracks_.video.pid, run_.videoCodec == Codec::H264)) {
    outcome.inputError = true;  // the input view has said why
    return false;
  } else {
    refusal = cuts_.Plan(gops_, request.cuts, request.cutRounding, request.cutSource, request.cutUnit);
  }
  if (!refusal.empty()) {
    cuts_.Clear();
    ui_.showMessage(refusal, MessageKind::Error);
    outcome.refused = true;
    return false;
  }
  // The conversion reads the input again from its start.
  input_.close();
  outcome.inputError = !input_.open();
  return !outcome.inputError;
}

void ConversionPass::ResetRun() {
  timing_.Reset();
  video_->Reset();
  mux_.ResetTiming();
  for (AudioHandler* a : audioHandlers_) a->Reset();
  for (std::uint32_t k = 0; k < run_.firstPrivateTrack; ++k) {
    mpegAudio_.SetLayer(k, tracks_.audio[k].mpegLayer);
    aac_.SetFraming(k, tracks_.audio[k].codec == Codec::AacLatm);
  }
  routes_.Build(tracks_, run_);
  // AAC tracks come with the MPEG audio tracks' stream ids and numbering;
  // only their framing differs.
  for (std::uint32_t k = 0; k < run_.audioTrackTotal; ++k) {
    const Codec c = tracks_.audio[k].codec;
    if (IsAc3Family(c)) {
      audioRoutes_[k] = {&ac3_, k - run_.firstPrivateTrack};
    } else {
      audioRoutes_[k] = {IsAacCodec(c) ? static_cast<AudioHandler*>(&aac_) : &mpegAudio_, k};
    }
  }
  audioCont_ = {};
  videoCont_ = {};
  videoStampOpen_ = videoStampPlaced_ = false;
  // Late audio waits for the picture only where there is one to wait for.
  for (AudioHandler* a : audioHandlers_) a->FollowVideo(tracks_.video.pid != 0);
  bytesSinceLastMiB_ = mibDone_ = lastPercent_ = lastSeconds_ = 0;
  warningsShown_ = 0;
  if (timing_.drops != nullptr) timing_.drops->Reset();
}

ConversionOutcome ConversionPass::run(const ConversionRequest& request) {
  ConversionOutcome outcome;
  ui_.setStatusText(FormatText(StringId::ConvertingFile, input_.fileName()));
  ConfigureRun(run_, tracks_, request.convertAc3ToMpeg,
               request.keepEac3 && (request.format == OutputFormat::Ts || request.format == OutputFormat::M2ts ||
                                    request.format == OutputFormat::Matroska));
  video_ = run_.videoCodec == Codec::H264 ? &h264Video_ : run_.videoCodec == Codec::Hevc ? &hevcVideo_ : &mpeg2Video_;
  if (!input_.open()) {
    outcome.inputError = true;
    ui_.finished();
    return outcome;
  }
  if (!PlanCuts(request, outcome)) {
    input_.close();
    ui_.finished();
    return outcome;
  }
  // A transport stream ends with its last whole packet; the input is never
  // overwritten, whatever name the output was given.
  const OutputOptions outputOptions{request.format != OutputFormat::ProgramStream, input_.identity(),
                                    request.outputMustBeNew, request.outputMustBeEmpty};
  if (!output_.OpenOutput(request.outputPath, outputOptions)) {
    ShowMessage(ui_, StringId::UnableToCreateOutput);
    input_.close();
    outcome.outputError = true;
    ui_.finished();
    return outcome;
  }
  outcome.outputOpened = true;
  converter_.reset();
  ResetRun();
  mux_.BuildStreamHeaders(request.format);

  bool flush = true;
  bool synced = false;
  std::uint32_t stopBudget = 0;  // packets still read after a stop
  bool cut = false;              // the input became shorter: ended as at a stop
  for (;;) {
    // The input view stops short of the last few packets of the file; they
    // are read here too, so that the last frames of each stream are kept.
    // A packet needs its 188 bytes from the sync byte on (a 192-byte
    // packet's prefix comes before it).
    const bool tail = input_.endOfInput();
    if (tail && (!synced || input_.position() + kTsPacketBytes > input_.fileSize())) {
      (cut ? outcome.inputError : outcome.reachedEndOfInput) = true;
      break;
    }
    if (!synced) {
      if (const std::uint32_t size = input_.packetSizeHere(); size != 0) {
        packetSize_ = size;
      } else {
        // An input that cannot be read further ends the output as a stop does.
        if (!input_.advance(1)) {
          outcome.inputError = true;
          break;
        }
        UpdateDisplay(1);
        // A long stretch without sync bytes must not hold up a stop.
        if (abortRequested.load(std::memory_order_relaxed)) {
          outcome.stoppedByUser = true;
          break;
        }
        continue;
      }
      synced = true;
    }
    // A packet is confirmed by the next one's sync byte; the last packet of
    // the data is followed by the end of the file or by zero padding.
    const std::uint32_t end = StoredPacketEnd(packetSize_);
    const bool lastPacket = input_.position() + end == input_.fileSize() || input_.isZeroRunAt(end, kTsPacketBytes);
    if (!input_.isSyncByteAt(0) || !(lastPacket || input_.isSyncByteAt(packetSize_))) {
      if (tail) {
        (cut ? outcome.inputError : outcome.reachedEndOfInput) = true;
        break;
      }
      synced = false;
      continue;
    }
    if (!RoutePacket(input_.readPtr())) {
      outcome.outputError = true;
      flush = false;
      break;
    }
    if (!input_.advance(packetSize_)) {
      outcome.inputError = true;
      break;
    }
    UpdateDisplay(packetSize_);
    // The writer thread may have failed on a buffer handed over earlier,
    // while this packet added nothing to the output.
    if (output_.HasFailed()) {
      outcome.outputError = true;
      flush = false;
      break;
    }
    if (video_->stopped()) {
      (cut ? outcome.inputError : video_->endedOnRequest() ? outcome.stoppedByUser : outcome.stoppedByTimeJump) = true;
      break;
    }
    if (stopBudget > 0 && --stopBudget == 0) {
      (cut ? outcome.inputError : outcome.stoppedByUser) = true;  // no picture ended in time: end anyway
      break;
    }
    if (!cut && input_.cutShort()) {
      // Another program cut the file short ahead of the read position: the
      // output ends at the end of the picture being written, as at a stop,
      // if the rest of the file holds its end.
      cut = true;
      if (!video_->outputOn()) {
        outcome.inputError = true;
        break;
      }
      if (stopBudget == 0) {
        video_->EndAtNextPicture();
        stopBudget = kStopPackets;
      }
    }
    if (stopBudget == 0 && abortRequested.load(std::memory_order_relaxed)) {
      // A stop ends the output at the end of the picture being written: the
      // input is read on until the next one begins.
      if (!video_->outputOn()) {
        outcome.stoppedByUser = true;
        break;
      }
      video_->EndAtNextPicture();
      stopBudget = kStopPackets;
    }
  }
  if (timing_.drops != nullptr) timing_.drops->Finish();
  if (timing_.drops != nullptr) cuts_.Report(*timing_.drops);
  for (const PlannedCut& c : cuts_.cuts()) outcome.cutsMade += c.moved || (c.toEnd && c.reached) ? 1 : 0;
  outcome.timeCutOut = cuts_.timeRemoved();
  outcome.inputOffset = outcome.reachedEndOfInput ? input_.fileSize() : input_.position();

  // A picture held back at a restart of the time line goes out first, then
  // the audio kept back for it.
  if (flush && (!video_->Finish() || !ReleaseHeldAudio() ||
                !mux_.FinishOutput(video_->outputOn()))) {
    outcome.outputError = true;
  }
  ui_.setStopEnabled(false);
  if (!output_.CloseOutput()) outcome.outputError = true;
  input_.close();
  outcome.videoWritten = video_->wholePictureWritten();
  outcome.videoSeconds = lastSeconds_;
  outcome.timeRemoved = video_->timeRemoved();
  std::string done = FormatText(StringId::ConversionDone, FormatTime(lastSeconds_));
  // Only a run with cuts says how many were made.
  if (cuts_.active()) done += "\n Cuts made = " + std::to_string(outcome.cutsMade);
  ui_.showMessage(done, MessageKind::Report);
  ui_.finished();
  return outcome;
}

void ConversionPass::WarnOnce(StringId id) {
  // A stream warning repeats with every packet of the stream; once per run
  // tells the user as much.
  static_assert(kLastStringId - kFirstStringId < 32, "one bit per message in warningsShown_");
  const std::uint32_t bit = 1u << (static_cast<std::uint32_t>(id) - kFirstStringId);
  if ((warningsShown_ & bit) != 0 || !verbose.load(std::memory_order_relaxed)) return;
  warningsShown_ |= bit;
  ShowWarning(ui_, id);
}

void ConversionPass::UpdateDisplay(std::uint32_t bytes) {
  const std::uint32_t seconds = timing_.videoTime / 90000;
  if (seconds != lastSeconds_) {
    lastSeconds_ = seconds;
    ui_.setTimeText(FormatTime(seconds));
  }
  bytesSinceLastMiB_ += bytes;
  if (bytesSinceLastMiB_ >= 0x100000) {
    bytesSinceLastMiB_ -= 0x100000;
    ++mibDone_;
    const std::uint32_t mib = input_.fileSizeMiB();
    const std::uint32_t percent = mib == 0 ? 0 : mibDone_ * 100 / mib;
    if (percent != lastPercent_) {
      lastPercent_ = percent;
      ui_.setProgress(percent);
    }
  }
}

bool ConversionPass::RoutePacket(const std::uint8_t* p) {
  TsHeader h;
  if (!ReadTsHeader(p, h) || h.pid < 2 || h.pid > 0x1FFE) return true;
  if (cuts_.active() && h.pid == tracks_.video.pid) {
    const CutPlan::VideoStep step = cuts_.Video(h.unitStart);
    if (step == CutPlan::VideoStep::Skip) return true;
    // A cut is no loss: the packets after it begin their count anew.
    if (step == CutPlan::VideoStep::Resume) {
      videoCont_ = {};
      video_->ResumeAfterCut();
    }
  }
  if (h.unitStart) {
    // A unit start that is not a PES start is a table: not read here.
    return IsPesStart(p, h) ? RoutePesStart(p, h) : true;
  }
  return RouteContinuation(p, h);
}

bool ConversionPass::ReleaseHeldAudio() {
  for (AudioHandler* a : audioHandlers_) {
    if (!a->ReleaseHeld()) return false;
  }
  return true;
}

bool ConversionPass::StartAudio(bool& started, const PesStart& pes) {
  if (!timing_.startFound && pes.ptsValid) {
    timing_.startBase = pes.pts - 9000;
    timing_.startFound = true;
    started = true;
  } else if (!started && pes.ptsValid && timing_.startFound &&
             TimeDifference(pes.pts - timing_.startBase, 9000) >= 0) {
    started = true;
  }
  return started;
}

bool ConversionPass::IsRepeat(const Continuity& c, const std::uint8_t* p, const TsHeader& h) {
  // The packet just handled, sent twice: its continuity counter did not move
  // and its content is the same. A new PES packet whose counter only looks
  // repeated (after lost packets) differs at least in its time stamp.
  if (!c.active || !c.lastWasStart || h.cc != ((c.expected + 15) & 0x0F)) return false;
  const std::size_t n = std::min<std::size_t>(c.startHead.size(), kTsPacketBytes - h.payloadStart);
  return std::equal(p + h.payloadStart, p + h.payloadStart + n, c.startHead.begin());
}

void ConversionPass::NoteStart(Continuity& c, const std::uint8_t* p, const TsHeader& h) {
  const std::size_t n = std::min<std::size_t>(c.startHead.size(), kTsPacketBytes - h.payloadStart);
  std::copy(p + h.payloadStart, p + h.payloadStart + n, c.startHead.begin());
  c.lastWasStart = true;
}

bool ConversionPass::RoutePesStart(const std::uint8_t* p, const TsHeader& h) {
  const PesStart pes = ReadPesStart(p, h);
  const auto payload = PayloadFrom(p, pes.payloadStart);
  const bool allTracks = tracks_.selectedAudioPid == kAllTracks;
  const auto next = static_cast<std::uint8_t>((h.cc + 1) & 0x0F);

  // MPEG audio comes with its own stream ids, or as private_stream_1 on a
  // PID that the scan took for MPEG audio (its PMT says so).
  const PidRoutes::Route& route = routes_[h.pid];
  const std::uint32_t i = route.mpegAudio;
  const bool isMpeg = i != PidRoutes::kNoTrack;
  if (IsMpegAudioStreamId(pes.streamId) ||
      (isMpeg && pes.streamId == kPrivateStream1Id && tracks_.audio[i].streamId == kPrivateStream1Id)) {
    if (!isMpeg) {
      if (allTracks) WarnOnce(StringId::TooManyAudioChannels);
      return true;
    }
    if (IsRepeat(audioCont_[i], p, h)) return NoteRepeat(timing_);
    if (pes.streamId != tracks_.audio[i].streamId) WarnOnce(StringId::InvalidAudioStreamCode);
    if (!allTracks && h.pid != tracks_.selectedAudioPid) return true;
    return StartAudioPes(i, payload, pes, p, h);
  }

  if (IsVideoStreamId(pes.streamId)) {
    if (!route.video) {
      WarnOnce(StringId::TooManyVideoChannels);
      return true;
    }
    if (IsRepeat(videoCont_, p, h)) return NoteRepeat(timing_);
    if (pes.streamId != tracks_.video.streamId) WarnOnce(StringId::InvalidVideoStreamCode);
    // Packets lost just before this PES start cut the access unit before it.
    if (videoCont_.active && h.cc != videoCont_.expected) video_->Interrupted();
    if (videoCont_.active && h.cc != videoCont_.expected && timing_.drops != nullptr) timing_.drops->VideoLoss();
    // Without audio the first timed video PES fixes the origin, as the
    // first audio one would.
    if (run_.audioTrackTotal == 0 && !timing_.startFound && pes.ptsValid) {
      timing_.startBase = pes.pts - 9000;
      timing_.startFound = true;
    }
    // A time stamp that no picture took (H.264 without delimiters) counts
    // as placed once the next one comes.
    if (pes.ptsValid && videoStampOpen_) videoStampPlaced_ = true;
    videoStampOpen_ = pes.ptsValid;
    if (!AfterVideo(video_->HandleVideo(payload, PesStamp::Of(pes)))) return false;
    videoCont_.active = true;
    videoCont_.expected = next;
    NoteStart(videoCont_, p, h);
    return true;
  }

  // AC-3/E-AC-3: private_stream_1 in 188-byte input, extended_stream_id in
  // 192-byte input.
  if (pes.streamId != PrivateAudioStreamId(packetSize_)) return true;
  const std::uint32_t k = route.ac3;
  if (k == PidRoutes::kNoTrack) {
    WarnOnce(StringId::TooManyPrivateChannels);
    return true;
  }
  if (!allTracks && h.pid != tracks_.selectedAudioPid) return true;
  if (IsRepeat(audioCont_[k], p, h)) return NoteRepeat(timing_);
  return StartAudioPes(k, payload, pes, p, h);
}

bool ConversionPass::StartAudioPes(std::uint32_t k, std::span<const std::uint8_t> payload, const PesStart& pes,
                                   const std::uint8_t* p, const TsHeader& h) {
  if (!StartAudio(timing_.audioStarted[k], pes)) return true;
  const AudioRoute& to = audioRoutes_[k];
  if (!to.handler->StartPes(payload, to.slot, PesStamp::Of(pes))) return false;
  Continuity& c = audioCont_[k];
  c.active = true;
  c.expected = static_cast<std::uint8_t>((h.cc + 1) & 0x0F);
  NoteStart(c, p, h);
  return true;
}

bool ConversionPass::ContinueAudioPes(std::uint32_t k, std::span<const std::uint8_t> payload, const TsHeader& h) {
  if (ContinuityStep(audioCont_[k], h.cc) != Step::Next) return true;
  const AudioRoute& to = audioRoutes_[k];
  return to.handler->ContinuePes(payload, to.slot);
}

bool ConversionPass::AfterVideo(const VideoStep& step) {
  if (!step.written) return false;
  if (videoStampOpen_ && step.stampPlaced) {
    videoStampOpen_ = false;
    videoStampPlaced_ = true;
  }
  // A held picture may still move the time origin back.
  if (!videoStampPlaced_ || video_->holdingPicture()) return true;
  videoStampPlaced_ = false;
  return ReleaseHeldAudio();
}

ConversionPass::Step ConversionPass::ContinuityStep(Continuity& c, std::uint8_t cc) {
  if (cc == c.expected) {
    c.expected = static_cast<std::uint8_t>((c.expected + 1) & 0x0F);
    c.lastWasStart = false;
    return Step::Next;
  }
  if (cc == ((c.expected + 15) & 0x0F)) return Step::Repeat;
  // A lost packet: the rest of this PES is dropped.
  c.active = false;
  return Step::Break;
}

bool ConversionPass::RouteContinuation(const std::uint8_t* p, const TsHeader& h) {
  const auto payload = PayloadFrom(p, h.payloadStart);
  // MPEG audio, video, then AC-3: a PID shared by two of them (against the
  // rules) goes to the first.
  const PidRoutes::Route& route = routes_[h.pid];
  if (route.mpegAudio != PidRoutes::kNoTrack && audioCont_[route.mpegAudio].active) {
    return ContinueAudioPes(route.mpegAudio, payload, h);
  }
  if (videoCont_.active && route.video) {
    const Step step = ContinuityStep(videoCont_, h.cc);
    if (step == Step::Break) video_->Interrupted();
    if (step == Step::Break && timing_.drops != nullptr) timing_.drops->VideoLoss();
    if (step == Step::Repeat && timing_.drops != nullptr) timing_.drops->Repeat();
    if (step != Step::Next) return true;
    return AfterVideo(video_->HandleVideo(payload));
  }
  if (route.ac3 != PidRoutes::kNoTrack && audioCont_[route.ac3].active) return ContinueAudioPes(route.ac3, payload, h);
  return true;
}

}  // namespace kelvor
