#include "scan/scan_pass.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string>

#include "common/flags.h"
#include "common/mpeg_ids.h"
#include "common/show_message.h"
#include "common/ts_packet.h"
#include "scan/pmt_parser.h"
#include "scan/track_labels.h"

namespace kelvor {
namespace {

constexpr std::uint32_t kTsPacketSize = kTsPacketBytes;

std::uint8_t NextCC(std::uint8_t cc) { return static_cast<std::uint8_t>((cc + 1) & 0x0F); }


std::span<const std::uint8_t> Payload(const std::uint8_t* p, std::uint32_t start) {
  return start < kTsPacketSize ? std::span<const std::uint8_t>(p + start, kTsPacketSize - start)
                               : std::span<const std::uint8_t>();
}

// Runs a pending probe on a packet that continues its PES: the next packet
// in sequence is probed, a repeated one is skipped, any other breaks the PES.
template <typename ProbeOnce>
void ContinuePending(bool& pending, std::uint8_t& nextCC, std::uint8_t cc, ProbeOnce probeOnce) {
  if (cc == nextCC) {
    if (probeOnce()) {
      pending = false;
    } else {
      nextCC = NextCC(nextCC);
    }
  } else if (cc != ((nextCC + 15) & 0x0F)) {
    pending = false;
  }
}

}  // namespace

ScanPass::ScanPass(InputView& input, TrackTable& tracks, H264IdrState& idr, UiPort& ui)
    : input_(input), tracks_(tracks), ui_(ui), videoProbe_(idr) {}

void ScanPass::addRow(const std::string& text) {
  ui_.addTrackRow(text);
}

void ScanPass::start() {
  summary_ = ScanSummary{};
  tracks_.mpegAudioCount = 0;
  tracks_.privateAudioCount = 0;
  tracks_.videoIsH264 = false;
  tracks_.videoBitRate = 0;
  tracks_.videoWidth = tracks_.videoHeight = tracks_.videoFrameRateCode = 0;
  tracks_.videoPid = 0;
  tracks_.videoStreamId = 0;
  tracks_.privateAudioIsEac3 = {};
  anyAudioProbed_ = videoPidKnown_ = videoProbed_ = videoPending_ = false;
  pmtCollecting_ = pmtParsed_ = false;
  pmtLength_ = 0;
  videoProbe_.Reset();
  packetSize_ = kTsPacketSize;
}

void ScanPass::run() {
  ui_.setConvertEnabled(false);
  ui_.clearTrackRows();
  tracks_.trackChoiceCount = 0;
  tracks_.languageCount = 0;
  summary_ = ScanSummary{};
  addRow(input_.fileName());
  listRow_ = 1;

  const bool opened = input_.open();
  if (opened) {
    start();
    summary_.inputOpened = true;
    bool synced = false;
    std::uint64_t bytesScanned = 0;
    while (!input_.endOfInput() && !abortRequested.load(std::memory_order_relaxed)) {
      if (!synced) {
        if (const std::uint32_t size = input_.packetSizeHere(); size != 0) {
          packetSize_ = size;
        } else {
          ++bytesScanned;
          if (!input_.advance(1)) {
            summary_.inputError = true;
            break;
          }
          continue;
        }
        synced = true;
        summary_.packetSize = packetSize_;
      }
      if (bytesScanned >= kMaxBytes || (bytesScanned >= kEnoughBytes && anyAudioProbed_ && videoProbed_)) break;
      if (!input_.isSyncByteAt(0) || !input_.isSyncByteAt(packetSize_)) {
        synced = false;
        continue;
      }
      handlePacket(input_.readPtr());
      bytesScanned += packetSize_;
      if (!input_.advance(packetSize_)) {
        summary_.inputError = true;
        break;
      }
    }
    summary_.bytesScanned = bytesScanned;
  }
  finish(opened);
  ui_.finished();
}

void ScanPass::handlePacket(const std::uint8_t* p) {
  TsHeader h;
  if (!ReadTsHeader(p, h) || h.pid < 2 || h.pid == 0x1FFF) return;
  if (IsPesStart(p, h)) {
    handlePesStart(p, h);
  } else if (h.unitStart) {
    handleSectionStart(p, h.pid, h.cc, h.payloadStart);
  } else {
    handleContinuation(p, h.pid, h.cc, h.payloadStart);
  }
}

void ScanPass::handlePesStart(const std::uint8_t* p, const TsHeader& h) {
  const std::uint32_t pid = h.pid;
  const std::uint8_t cc = h.cc;
  const PesStart pes = ReadPesStart(p, h);
  const std::uint8_t streamId = pes.streamId;
  const auto payload = Payload(p, pes.payloadStart);

  if (IsMpegAudioStreamId(streamId)) {
    auto* pids = tracks_.mpegAudioPid.data();
    std::uint32_t i = 0;
    while (i < tracks_.mpegAudioCount && pids[i] != pid) ++i;
    if (i == tracks_.mpegAudioCount) {
      if (i >= kMaxMpegAudioTracks) {
        ShowWarning(ui_, StringId::TooManyAudioChannels);
        return;
      }
      ++tracks_.mpegAudioCount;
      pids[i] = pid;
      tracks_.mpegAudioStreamId[i] = streamId;
      mpeg_[i] = MpegTrack{};
    } else if (tracks_.mpegAudioStreamId[i] != streamId) {
      ShowWarning(ui_, StringId::InvalidAudioStreamCode);
    }
    MpegTrack& t = mpeg_[i];
    if (!t.probeDone) {
      if (t.probe.probe(payload, t.result)) {
        t.probeDone = anyAudioProbed_ = true;
        t.pending = false;
      } else {
        t.pending = true;
        t.nextCC = NextCC(cc);
      }
    }
    return;
  }

  if (IsVideoStreamId(streamId)) {
    if (!videoPidKnown_) {
      videoPidKnown_ = true;
      tracks_.videoPid = pid;
      tracks_.videoStreamId = streamId;
      videoPending_ = false;
    } else if (pid != tracks_.videoPid) {
      ShowWarning(ui_, StringId::TooManyVideoChannels);
      return;
    } else if (streamId != tracks_.videoStreamId) {
      ShowWarning(ui_, StringId::InvalidVideoStreamCode);
    }
    // The probe's mode comes from the PMT, so it waits for one.
    if (pmtParsed_ && !videoProbed_) {
      if (videoProbe_.probe(payload, tracks_.videoIsH264, tracks_.videoBitRate)) {
        tracks_.videoWidth = videoProbe_.width();
        tracks_.videoHeight = videoProbe_.height();
        tracks_.videoFrameRateCode = videoProbe_.frameRateCode();
        videoProbed_ = true;
        videoPending_ = false;
      } else {
        videoPending_ = true;
        videoNextCC_ = NextCC(cc);
      }
    }
    return;
  }

  // AC-3/E-AC-3: private_stream_1 in 188-byte streams, extended_stream_id in
  // 192-byte ones.
  if (streamId != PrivateAudioStreamId(packetSize_)) return;
  auto* pids = tracks_.privateAudioPid.data();
  std::uint32_t j = 0;
  while (j < tracks_.privateAudioCount && pids[j] != pid) ++j;
  if (j == tracks_.privateAudioCount) {
    if (j >= kMaxPrivateAudioTracks) {
      ShowWarning(ui_, StringId::TooManyPrivateChannels);
      return;
    }
    ++tracks_.privateAudioCount;
    pids[j] = pid;
    tracks_.privateAudioIsEac3[j] = false;
    private_[j].probeDone = private_[j].pending = false;
    private_[j].probe.Reset();
  }
  PrivateTrack& t = private_[j];
  if (!t.probeDone) {
    if (t.probe.probe(payload, t.result)) {
      t.probeDone = anyAudioProbed_ = true;
      t.pending = false;
      tracks_.privateAudioIsEac3[j] = t.result.isEac3;
    } else {
      t.pending = true;
      t.nextCC = NextCC(cc);
    }
  }
}

void ScanPass::handleSectionStart(const std::uint8_t* p, std::uint32_t pid, std::uint8_t cc,
                                  std::uint32_t start) {
  const std::uint32_t section = start + 1 + p[start];  // after the pointer_field
  if (section >= kTsPacketSize || p[section] != 0x02) return;  // TS_program_map_section only
  // A section is parsed when the next one starts.
  if (pmtCollecting_ && !pmtParsed_) {
    pmtParsed_ = parsePmt(std::span<const std::uint8_t>(pmtBuffer_.data(), pmtLength_), tracks_);
  }
  pmtLength_ = kTsPacketSize - section;
  std::memcpy(pmtBuffer_.data(), p + section, pmtLength_);
  pmtPid_ = pid;
  pmtNextCC_ = NextCC(cc);
  pmtCollecting_ = true;
  parsePmtIfComplete();
}

// A section is parsed as soon as all its bytes are in, so that a stream
// that carries its PMT only once or twice still gets its video probed. An
// incomplete section waits for the next section start, which parses what
// was collected.
void ScanPass::parsePmtIfComplete() {
  if (pmtParsed_ || pmtLength_ < 3) return;
  const std::uint32_t sectionLength = (((pmtBuffer_[1] & 0x0Fu) << 8) | pmtBuffer_[2]) + 3;
  if (pmtLength_ >= sectionLength) {
    pmtParsed_ = parsePmt(std::span<const std::uint8_t>(pmtBuffer_.data(), pmtLength_), tracks_);
  }
}

void ScanPass::handleContinuation(const std::uint8_t* p, std::uint32_t pid, std::uint8_t cc,
                                  std::uint32_t start) {
  const auto payload = Payload(p, start);
  for (std::uint32_t i = 0; i < tracks_.mpegAudioCount; ++i) {
    MpegTrack& t = mpeg_[i];
    if (tracks_.mpegAudioPid[i] != pid || !t.pending) continue;
    ContinuePending(t.pending, t.nextCC, cc, [&] {
      if (!t.probe.probe(payload, t.result)) return false;
      t.probeDone = anyAudioProbed_ = true;
      return true;
    });
    return;
  }
  if (videoPidKnown_ && pid == tracks_.videoPid && videoPending_) {
    ContinuePending(videoPending_, videoNextCC_, cc, [&] {
      if (!videoProbe_.probe(payload, tracks_.videoIsH264, tracks_.videoBitRate)) return false;
      tracks_.videoWidth = videoProbe_.width();
      tracks_.videoHeight = videoProbe_.height();
      tracks_.videoFrameRateCode = videoProbe_.frameRateCode();
      videoProbed_ = true;
      return true;
    });
    return;
  }
  for (std::uint32_t j = 0; j < tracks_.privateAudioCount; ++j) {
    PrivateTrack& t = private_[j];
    if (tracks_.privateAudioPid[j] != pid || !t.pending) continue;
    ContinuePending(t.pending, t.nextCC, cc, [&] {
      if (!t.probe.probe(payload, t.result)) return false;
      t.probeDone = anyAudioProbed_ = true;
      tracks_.privateAudioIsEac3[j] = t.result.isEac3;
      return true;
    });
    return;
  }
  if (pmtCollecting_ && pid == pmtPid_) {
    if (cc == pmtNextCC_) {
      if (pmtLength_ + payload.size() > kPmtBufferSize) {
        pmtCollecting_ = false;
        ShowWarning(ui_, StringId::PacketBufferOverflow);
      } else {
        std::memcpy(pmtBuffer_.data() + pmtLength_, payload.data(), payload.size());
        pmtLength_ += static_cast<std::uint32_t>(payload.size());
        parsePmtIfComplete();
      }
      pmtNextCC_ = NextCC(pmtNextCC_);
    } else if (cc != ((pmtNextCC_ + 15) & 0x0F)) {
      pmtCollecting_ = false;
    }
  }
}

void ScanPass::finish(bool opened) {
  input_.close();
  summary_.videoFound = videoProbed_;
  if (!opened) {
    // Nothing was read: the list keeps only the file name.
    tracks_.mpegAudioCount = tracks_.privateAudioCount = 0;
  } else if (!videoProbed_) {
    addRow(LoadString(StringId::NoVideoTrack).data());
  } else {
    std::uint32_t kept = 0;
    const auto addChoice = [&](std::uint32_t pid) {
      if (tracks_.trackChoiceCount < kMaxTrackChoices) {
        tracks_.trackChoices[tracks_.trackChoiceCount++] = TrackChoice{listRow_, pid};
      }
      ++listRow_;
    };
    std::uint32_t keptMpeg = 0;
    for (std::uint32_t i = 0; i < tracks_.mpegAudioCount; ++i) {
      if (!mpeg_[i].probeDone) continue;
      const std::uint32_t pid = tracks_.mpegAudioPid[i];
      addRow(MpegAudioLabel(pid, mpeg_[i].result, LanguageText(tracks_.languageFor(pid))));
      addChoice(pid);
      tracks_.mpegAudioPid[keptMpeg] = pid;
      tracks_.mpegAudioStreamId[keptMpeg] = tracks_.mpegAudioStreamId[i];
      summary_.mpegAudio[keptMpeg] = mpeg_[i].result;
      ++keptMpeg;
    }
    tracks_.mpegAudioCount = keptMpeg;
    std::uint32_t keptPrivate = 0;
    for (std::uint32_t j = 0; j < tracks_.privateAudioCount; ++j) {
      if (!private_[j].probeDone) continue;
      const std::uint32_t pid = tracks_.privateAudioPid[j];
      addRow(Ac3Label(pid, private_[j].result, LanguageText(tracks_.languageFor(pid))));
      addChoice(pid);
      tracks_.privateAudioPid[keptPrivate] = pid;
      tracks_.privateAudioIsEac3[keptPrivate] = private_[j].result.isEac3;
      summary_.privateAudio[keptPrivate] = private_[j].result;
      ++keptPrivate;
    }
    tracks_.privateAudioCount = keptPrivate;
    kept = keptMpeg + keptPrivate;
    if (kept == 0) {
      addRow(LoadString(StringId::NoSupportedAudioTrack).data());
    } else if (kept > 1) {
      addRow(LoadString(StringId::AllAudioTracks).data());
      addChoice(kAllTracks);
    }
  }
  if ((summary_.inputError || !opened) && !verbose.load(std::memory_order_relaxed)) {
    ShowMessage(ui_, StringId::ScanInputError);
  }
}

}  // namespace kelvor
