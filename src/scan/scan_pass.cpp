#include "scan/scan_pass.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "common/flags.h"
#include "common/mpeg_ids.h"
#include "common/show_message.h"
#include "common/ts_packet.h"
#include "scan/pmt.h"
#include "scan/stream_codec.h"
#include "scan/track_labels.h"
#include "matroska/track_descriptors.h"

namespace kelvor {
namespace {

constexpr std::uint32_t kTsPacketSize = kTsPacketBytes;
constexpr std::uint32_t kM2tsPacketSize = 192;  // a 4-byte time prefix before each packet

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
  mpegCount_ = privateCount_ = formatCount_ = overLimitCount_ = 0;
  tracks_.audioCount = 0;
  tracks_.video = Track{0, 0, Codec::Mpeg2Video};
  tracks_.videoBitRate = 0;
  tracks_.videoWidth = tracks_.videoHeight = tracks_.videoFrameRateCode = 0;
  anyAudioProbed_ = videoPidKnown_ = videoProbed_ = videoPending_ = false;
  pmtCollecting_ = pmtParsed_ = false;
  pmtLength_ = 0;
  pmtSectionRead_ = false;
  nextCc_.fill(kUnseenPid);
  programmes_.Reset();
  taken_ = nullptr;
  tracks_.programme = 0;
  videoProbe_.Reset();
  packetSize_ = kTsPacketSize;
}

void ScanPass::run() {
  ui_.setConvertEnabled(false);
  ui_.clearTrackRows();
  tracks_.trackChoiceCount = 0;
  firstPmt_ = Pmt{};
  summary_ = ScanSummary{};
  addRow(input_.fileName());
  listRow_ = 1;

  const bool opened = input_.open();
  if (opened) {
    start();
    summary_.inputOpened = true;
    bool synced = false;
    std::uint64_t bytesScanned = 0;
    // The limits hold for junk as for packets: a stream followed by
    // gigabytes of junk is not walked to its end.
    while (!abortRequested.load(std::memory_order_relaxed) && bytesScanned < kMaxBytes &&
           !(bytesScanned >= kEnoughBytes && anyAudioProbed_ && videoProbed_)) {
      // The view stops short of the last few packets; they are read too.
      // A packet needs its 188 bytes from the sync byte on (a 192-byte
      // packet's prefix comes before it).
      const bool tail = input_.endOfInput();
      if (tail && (!synced || input_.position() + kTsPacketSize > input_.fileSize())) break;
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
      // A packet is taken between two sync bytes, or as the file's last.
      const bool lastPacket = input_.position() + StoredPacketEnd(packetSize_) == input_.fileSize();
      if (!input_.isSyncByteAt(0) || !(lastPacket || input_.isSyncByteAt(packetSize_) || continuesItsPid())) {
        synced = false;
        continue;
      }
      notePacket(input_.readPtr());
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

void ScanPass::notePacket(const std::uint8_t* p) {
  const std::uint32_t pid = ((p[1] & 0x1Fu) << 8) | p[2];
  nextCc_[pid] = static_cast<std::uint8_t>(((p[3] & 0x0F) + 1) & 0x0F);
}

// Without a sync byte after it, a packet (the last before junk) is still
// taken when it continues a PID of the stream: its continuity counter follows
// (or repeats) the one before.
bool ScanPass::continuesItsPid() const {
  const std::uint8_t* p = input_.readPtr();
  if (input_.position() + kTsPacketSize > input_.fileSize()) return false;
  const std::uint32_t pid = ((p[1] & 0x1Fu) << 8) | p[2];
  const std::uint8_t next = nextCc_[pid];
  const std::uint8_t cc = p[3] & 0x0F;
  return next != kUnseenPid && (cc == next || cc == ((next + 15) & 0x0F));
}

void ScanPass::handlePacket(const std::uint8_t* p) {
  TsHeader h;
  if (!ReadTsHeader(p, h) || h.pid == 0x1FFF) return;
  if (h.pid < 2) {
    if (h.pid == 0 && h.unitStart) handlePat(p, h.payloadStart);
    return;
  }
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

  // Another programme's stream takes no track; audio the PMT names as a
  // kind the conversion does not carry is read for the report only.
  if (foreign(pid)) return;
  const Codec declared = declaredCodec(pid);
  if (declared == Codec::AacAdts || declared == Codec::AacLatm || declared == Codec::Dts ||
      declared == Codec::TrueHd) {
    probeFormat(pid, declared, payload, streamId);
    if (declared != Codec::TrueHd) return;  // TrueHD's AC-3 core is probed as AC-3
  }
  if (IsSubtitleCodec(declared)) return;

  // MPEG audio that a PMT declares may come as private_stream_1.
  const Programme* declaredBy = programmes_.declaring(pid);
  const bool declaredMpegAudio =
      streamId == kPrivateStream1Id && declaredBy != nullptr && IsMpegAudioStreamType(declaredBy->typeOf(pid));
  if (IsMpegAudioStreamId(streamId) || declaredMpegAudio) {
    std::uint32_t i = 0;
    while (i < mpegCount_ && mpeg_[i].pid != pid) ++i;
    if (i == mpegCount_) {
      if (i >= kMaxMpegAudioTracks && !freeSlot(mpeg_, mpegCount_, true)) {
        ShowWarning(ui_, StringId::TooManyAudioChannels);
        noteOverLimit(pid, true);
        return;
      }
      i = mpegCount_++;
      mpeg_[i] = MpegTrack{};
      mpeg_[i].pid = pid;
      mpeg_[i].streamId = streamId;
    } else if (mpeg_[i].streamId != streamId) {
      ShowWarning(ui_, StringId::InvalidAudioStreamCode);
    }
    MpegTrack& t = mpeg_[i];
    if (!t.probeDone) {
      if (t.probe.probe(payload, t.result)) {
        t.probeDone = true;
        anyAudioProbed_ = anyAudioProbed_ || t.result.carried();
        t.pending = false;
      } else {
        t.pending = true;
        t.nextCC = NextCC(cc);
      }
    }
    return;
  }

  if (IsVideoStreamId(streamId)) {
    if (!videoAllowed(pid)) return;
    if (!videoPidKnown_) {
      videoPidKnown_ = true;
      tracks_.video.pid = pid;
      tracks_.video.streamId = streamId;
      videoPending_ = false;
    } else if (pid != tracks_.video.pid) {
      ShowWarning(ui_, StringId::TooManyVideoChannels);
      return;
    } else if (streamId != tracks_.video.streamId) {
      ShowWarning(ui_, StringId::InvalidVideoStreamCode);
    }
    // The probe's mode comes from the PMT, so it waits for one.
    if (pmtParsed_ && !videoProbed_ && videoCodingKnown()) {
      if (videoProbe_.probe(payload, tracks_.video.codec, tracks_.videoBitRate)) {
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
  std::uint32_t j = 0;
  while (j < privateCount_ && private_[j].pid != pid) ++j;
  if (j == privateCount_) {
    if (j >= kMaxPrivateAudioTracks && !freeSlot(private_, privateCount_, false)) {
      ShowWarning(ui_, StringId::TooManyPrivateChannels);
      noteOverLimit(pid, false);
      return;
    }
    j = privateCount_++;
    private_[j].pid = pid;
    private_[j].streamId = streamId;
    private_[j].probeDone = private_[j].pending = false;
    private_[j].probe.Reset();
  }
  PrivateTrack& t = private_[j];
  if (!t.probeDone) {
    if (t.probe.probe(payload, t.result)) {
      t.probeDone = anyAudioProbed_ = true;
      t.pending = false;
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
  if (pmtCollecting_ && !pmtParsed_) takeFirstPmt(std::span<const std::uint8_t>(pmtBuffer_.data(), pmtLength_));
  pmtLength_ = kTsPacketSize - section;
  std::memcpy(pmtBuffer_.data(), p + section, pmtLength_);
  pmtPid_ = pid;
  pmtNextCC_ = NextCC(cc);
  pmtCollecting_ = true;
  pmtSectionRead_ = false;
  parsePmtIfComplete();
}

// A section is parsed as soon as all its bytes are in, so that a stream
// that carries its PMT only once or twice still gets its video probed. An
// incomplete section waits for the next section start, which parses what
// was collected.
void ScanPass::parsePmtIfComplete() {
  if (pmtLength_ < 3) return;
  const std::uint32_t sectionLength = (((pmtBuffer_[1] & 0x0Fu) << 8) | pmtBuffer_[2]) + 3;
  if (pmtLength_ < sectionLength) return;
  const std::span<const std::uint8_t> section(pmtBuffer_.data(), pmtLength_);
  if (pmtSectionRead_) {
    takeFirstPmt(section);
    return;
  }
  pmtSectionRead_ = true;
  // Parsed once for both readers.
  const bool first = !pmtParsed_;
  Pmt& into = first ? firstPmt_ : sectionPmt_;
  const bool accepted = first ? takeFirstPmt(section) : ParsePmt(section, into);
  if (accepted) programmes_.ReadPmt(into, pmtPid_);
}

bool ScanPass::takeFirstPmt(std::span<const std::uint8_t> section) {
  if (pmtParsed_) return false;
  pmtParsed_ = ParsePmt(section, firstPmt_);
  if (pmtParsed_) tracks_.video.codec = firstPmt_.videoCodec();
  return pmtParsed_;
}

void ScanPass::handlePat(const std::uint8_t* p, std::uint32_t start) {
  if (start >= kTsPacketSize) return;
  const std::uint32_t section = start + 1 + p[start];
  if (section >= kTsPacketSize || p[section] != 0x00) return;
  // A PAT of one packet, as every multiplex has; a longer one is not read.
  programmes_.ReadPat(std::span<const std::uint8_t>(p + section, kTsPacketSize - section));
}

bool ScanPass::videoAllowed(std::uint32_t pid) const {
  if (tracks_.requestedProgramme == 0) return true;  // the first video found
  const Programme* p = programmes_.find(tracks_.requestedProgramme);
  return p != nullptr && p->pmtRead && IsVideoStreamType(p->typeOf(pid));
}

bool ScanPass::videoCodingKnown() {
  if (programmes_.count() < 2) return true;
  if (const Programme* p = programmes_.declaring(tracks_.video.pid)) {
    // Any other type is read as MPEG-2 video.
    const Codec c = VideoCodecOfStreamType(p->typeOf(tracks_.video.pid));
    tracks_.video.codec = IsNalVideo(c) ? c : Codec::Mpeg2Video;
    return true;
  }
  return programmes_.allPmtsRead();
}

bool ScanPass::otherProgrammes(std::uint32_t pid) const {
  if (taken_ == nullptr || taken_->typeOf(pid) != 0) return false;
  return programmes_.declaring(pid) != nullptr;
}

void ScanPass::handleContinuation(const std::uint8_t* p, std::uint32_t pid, std::uint8_t cc,
                                  std::uint32_t start) {
  const auto payload = Payload(p, start);
  for (std::uint32_t i = 0; i < mpegCount_; ++i) {
    MpegTrack& t = mpeg_[i];
    if (t.pid != pid || !t.pending) continue;
    ContinuePending(t.pending, t.nextCC, cc, [&] {
      if (!t.probe.probe(payload, t.result)) return false;
      t.probeDone = true;
      anyAudioProbed_ = anyAudioProbed_ || t.result.carried();
      return true;
    });
    return;
  }
  if (videoPidKnown_ && pid == tracks_.video.pid && videoPending_ && videoCodingKnown()) {
    ContinuePending(videoPending_, videoNextCC_, cc, [&] {
      if (!videoProbe_.probe(payload, tracks_.video.codec, tracks_.videoBitRate)) return false;
      tracks_.videoWidth = videoProbe_.width();
      tracks_.videoHeight = videoProbe_.height();
      tracks_.videoFrameRateCode = videoProbe_.frameRateCode();
      videoProbed_ = true;
      return true;
    });
    return;
  }
  for (std::uint32_t j = 0; j < privateCount_; ++j) {
    PrivateTrack& t = private_[j];
    if (t.pid != pid || !t.pending) continue;
    ContinuePending(t.pending, t.nextCC, cc, [&] {
      if (!t.probe.probe(payload, t.result)) return false;
      t.probeDone = anyAudioProbed_ = true;
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

void ScanPass::describeFromPmt(Track& track) const {
  // The taken programme's PMT in a multiplex of several, else the first one.
  const Pmt& pmt = taken_ != nullptr && programmes_.count() > 1 ? taken_->pmt : firstPmt_;
  const char* code = pmt.languageOf(track.pid);
  track.hasLanguage = code != nullptr;
  if (code != nullptr) std::copy_n(code, 4, track.language.begin());
  track.descriptorLength = 0;
  const PmtEntry* e = pmt.find(track.pid);
  if (e == nullptr) return;
  track.audioType = e->audioType;
  track.streamType = e->streamType;
  const auto bytes = pmt.descriptors(*e);
  // Whole descriptors only, as many as fit.
  for (std::size_t at = 0; at + 2 <= bytes.size();) {
    const std::size_t size = std::size_t{bytes[at + 1]} + 2;
    if (at + size > bytes.size() || track.descriptorLength + size > track.descriptorBytes.size()) break;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), size,
                track.descriptorBytes.begin() + track.descriptorLength);
    track.descriptorLength = static_cast<std::uint16_t>(track.descriptorLength + size);
    at += size;
  }
}

Codec ScanPass::declaredCodec(std::uint32_t pid) const {
  // The programme taken first, once known; else any that lists the PID.
  const Pmt* pmt = describingPmt();
  if (pmt == nullptr || pmt->find(pid) == nullptr) {
    const Programme* p = programmes_.declaring(pid);
    if (p != nullptr) pmt = &p->pmt;
  }
  if (pmt == nullptr) return Codec::None;
  const PmtEntry* e = pmt->find(pid);
  return e != nullptr ? CodecOfStream(e->streamType, pmt->descriptors(*e), packetSize_ == kM2tsPacketSize)
                      : Codec::None;
}

bool ScanPass::foreign(std::uint32_t pid) const {
  const Programme* mine = tracks_.requestedProgramme != 0 ? programmes_.find(tracks_.requestedProgramme)
                          : videoPidKnown_                ? programmes_.declaring(tracks_.video.pid)
                                                          : nullptr;
  if (mine == nullptr || !mine->pmtRead || mine->pmt.find(pid) != nullptr) return false;
  return programmes_.declaring(pid) != nullptr;
}

template <typename Slots>
bool ScanPass::freeSlot(Slots& slots, std::uint32_t& count, bool mpeg) {
  for (std::uint32_t k = 0; k < count; ++k) {
    const Codec c = declaredCodec(slots[k].pid);
    const bool otherCodec =
        c != Codec::None && (mpeg ? c != Codec::MpegAudio : !IsAc3Family(c) && c != Codec::TrueHd);
    if (!otherCodec && !foreign(slots[k].pid)) continue;
    // The order of the others is the order of the rows: kept.
    std::move(slots.begin() + k + 1, slots.begin() + count, slots.begin() + k);
    --count;
    return true;
  }
  return false;
}

void ScanPass::noteOverLimit(std::uint32_t pid, bool mpeg) {
  for (std::uint32_t k = 0; k < overLimitCount_; ++k) {
    if (overLimit_[k].pid == pid) return;
  }
  if (overLimitCount_ < overLimit_.size()) overLimit_[overLimitCount_++] = {pid, mpeg};
}

void ScanPass::probeFormat(std::uint32_t pid, Codec codec, std::span<const std::uint8_t> payload,
                           std::uint8_t streamId) {
  std::uint32_t k = 0;
  while (k < formatCount_ && formats_[k].pid != pid) ++k;
  if (k == formatCount_) {
    if (k >= formats_.size()) return;
    formats_[formatCount_++] = {pid, codec, AudioFormat{}, streamId};
  }
  if (!formats_[k].format.found) ProbeAudioFormat(codec, payload, formats_[k].format);
}

const Pmt* ScanPass::describingPmt() const {
  if (taken_ != nullptr && programmes_.count() > 1) return &taken_->pmt;
  return pmtParsed_ ? &firstPmt_ : nullptr;
}

void ScanPass::addNotCarried(std::uint32_t pid, const char* reason) {
  for (std::uint32_t k = 0; k < summary_.notCarriedCount; ++k) {
    if (summary_.notCarried[k].pid == pid) return;
  }
  if (summary_.notCarriedCount >= summary_.notCarried.size()) return;
  ScanSummary::NotCarried& n = summary_.notCarried[summary_.notCarriedCount++];
  n = ScanSummary::NotCarried{};
  n.pid = pid;
  std::snprintf(n.reason.data(), n.reason.size(), "%s", reason);
  const Pmt* pmt = describingPmt();
  const PmtEntry* e = pmt != nullptr ? pmt->find(pid) : nullptr;
  if (e != nullptr) {
    n.streamType = e->streamType;
    n.codec = CodecOfStream(e->streamType, pmt->descriptors(*e), packetSize_ == kM2tsPacketSize);
    n.language = e->language;
    n.audioType = e->audioType;
    n.hearingImpaired = IsSubtitleCodec(n.codec) && mkv::DescribeTrack(pmt->descriptors(*e)).hearingImpaired;
  }
  std::string found;
  for (std::uint32_t k = 0; k < formatCount_; ++k) {
    if (formats_[k].pid == pid) found = DescribeAudioFormat(formats_[k].codec, formats_[k].format);
  }
  for (std::uint32_t j = 0; j < privateCount_; ++j) {
    if (private_[j].pid == pid && private_[j].probeDone) {
      found = Ac3FormatText(private_[j].result);
      if (n.codec == Codec::None) n.codec = private_[j].result.isEac3 ? Codec::Eac3 : Codec::Ac3;
    }
  }
  std::snprintf(n.found.data(), n.found.size(), "%s", found.c_str());
}

void ScanPass::nameNotCarried() {
  const Pmt* pmt = describingPmt();
  if (pmt == nullptr) return;
  for (std::uint32_t k = 0; k < pmt->streamCount; ++k) {
    const PmtEntry& e = pmt->streams[k];
    if (videoProbed_ && e.pid == tracks_.video.pid) continue;
    // Without video the table lists every audio PID found; those whose
    // frames were read are the carried ones.
    bool offered = false;
    for (std::uint32_t j = 0; j < mpegCount_; ++j) {
      if (mpeg_[j].pid == e.pid) offered = mpeg_[j].probeDone && mpeg_[j].result.carried();
    }
    for (std::uint32_t j = 0; j < privateCount_; ++j) {
      if (private_[j].pid == e.pid) offered = private_[j].probeDone && private_[j].result.sampleRate == 48000;
    }
    if (const Track* t = tracks_.audioTrack(e.pid); t != nullptr && IsAacCodec(t->codec)) offered = true;
    if (offered && tracks_.audioTrack(e.pid) != nullptr) continue;
    const Codec c = CodecOfStream(e.streamType, pmt->descriptors(e), packetSize_ == kM2tsPacketSize);
    char reason[64];
    const OverLimit* over = nullptr;
    for (std::uint32_t j = 0; j < overLimitCount_; ++j) {
      if (overLimit_[j].pid == e.pid) over = &overLimit_[j];
    }
    const PrivateTrack* ac3 = nullptr;
    for (std::uint32_t j = 0; j < privateCount_; ++j) {
      if (private_[j].pid == e.pid && private_[j].probeDone) ac3 = &private_[j];
    }
    if (over != nullptr) {
      std::snprintf(reason, sizeof reason, "more than %zu %s tracks in the programme",
                    over->mpeg ? kMaxMpegAudioTracks : kMaxPrivateAudioTracks,
                    over->mpeg ? "MPEG audio" : "AC-3/E-AC-3");
    } else if (ac3 != nullptr && ac3->result.sampleRate != 48000) {
      std::snprintf(reason, sizeof reason, "%s at %g kHz is not supported", ac3->result.isEac3 ? "E-AC-3" : "AC-3",
                    ac3->result.sampleRate / 1000.0);
    } else if (c == Codec::AacAdts) {
      std::snprintf(reason, sizeof reason, "%s", NotCarriedReason(AudioHeaderKind::Aac));
    } else if (c == Codec::AacLatm) {
      std::snprintf(reason, sizeof reason, "AAC audio (LATM) is not supported");
    } else if (c == Codec::Dts) {
      std::snprintf(reason, sizeof reason, "DTS audio is not supported");
    } else if (c == Codec::TrueHd) {
      std::snprintf(reason, sizeof reason, "TrueHD audio without an AC-3 core is not supported");
    } else if (IsSubtitleCodec(c)) {
      std::snprintf(reason, sizeof reason, "%s are not carried", c == Codec::Teletext ? "teletext pages" : CodecName(c));
    } else if (IsVideoCodec(c)) {
      std::snprintf(reason, sizeof reason, "%s", videoProbed_ ? "a second video stream is not carried"
                                                             : "no picture to start from in the part scanned");
    } else if (IsAudioCodec(c) && nextCc_[e.pid & 0x1FFF] == kUnseenPid) {
      std::snprintf(reason, sizeof reason, "no packets in the part scanned");
    } else if (c == Codec::MpegAudio) {
      std::snprintf(reason, sizeof reason, "%s", NotCarriedReason(AudioHeaderKind::None));
    } else if (IsAc3Family(c)) {
      std::snprintf(reason, sizeof reason, "no AC-3 frame found");
    } else if (e.streamType == kStreamTypePrivatePes) {
      std::snprintf(reason, sizeof reason, "private data of a kind no descriptor names");
    } else {
      std::snprintf(reason, sizeof reason, "stream type 0x%02X is not supported", e.streamType);
    }
    addNotCarried(e.pid, reason);
  }
}

void ScanPass::finish(bool opened) {
  input_.close();
  summary_.videoFound = videoProbed_;
  summary_.programmes = programmes_;
  if (!opened) {
    // Nothing was read: the list keeps only the file name.
    tracks_.audioCount = 0;
  } else if (!videoProbed_) {
    addRow(LoadString(StringId::NoVideoTrack).data());
    // Nothing is offered, but the table tells what was found.
    for (std::uint32_t i = 0; i < mpegCount_; ++i) {
      Track track{mpeg_[i].pid, mpeg_[i].streamId, Codec::MpegAudio};
      describeFromPmt(track);
      tracks_.addAudio(track);
    }
    for (std::uint32_t j = 0; j < privateCount_; ++j) {
      const bool eac3 = private_[j].probeDone && private_[j].result.isEac3;
      Track track{private_[j].pid, private_[j].streamId, eac3 ? Codec::Eac3 : Codec::Ac3};
      describeFromPmt(track);
      tracks_.addAudio(track);
    }
    nameNotCarried();
  } else {
    // The programme taken: the one asked for, or the one whose PMT lists
    // the video. Audio that only another programme lists is not offered.
    taken_ = tracks_.requestedProgramme != 0 ? programmes_.find(tracks_.requestedProgramme)
                                             : programmes_.declaring(tracks_.video.pid);
    if (taken_ != nullptr) tracks_.programme = taken_->number;
    describeFromPmt(tracks_.video);
    const auto addChoice = [&](std::uint32_t pid) {
      if (tracks_.trackChoiceCount < kMaxTrackChoices) {
        tracks_.trackChoices[tracks_.trackChoiceCount++] = TrackChoice{listRow_, pid};
      }
      ++listRow_;
    };
    // MPEG audio tracks first, then AC-3/E-AC-3: the order of the rows and
    // of the output streams.
    tracks_.audioCount = 0;
    for (std::uint32_t i = 0; i < mpegCount_; ++i) {
      const std::uint32_t pid = mpeg_[i].pid;
      if (otherProgrammes(pid)) continue;
      const Codec c = declaredCodec(pid);
      if (c != Codec::None && c != Codec::MpegAudio) continue;  // named with the PMT's streams
      if (!mpeg_[i].probeDone || !mpeg_[i].result.carried()) {
        // Not offered; the reason goes to the summary.
        addNotCarried(pid, NotCarriedReason(mpeg_[i].probeDone ? mpeg_[i].result.kind : AudioHeaderKind::None));
        continue;
      }
      Track track{pid, mpeg_[i].streamId, Codec::MpegAudio, static_cast<std::uint8_t>(mpeg_[i].result.layer)};
      describeFromPmt(track);
      addRow(MpegAudioLabel(pid, mpeg_[i].result, TrackNote(track)));
      addChoice(pid);
      summary_.mpegAudio[tracks_.audioCount] = mpeg_[i].result;
      tracks_.addAudio(track);
    }
    // AAC takes the MPEG audio tracks' stream ids and numbering.
    std::uint32_t mpegGroup = tracks_.audioCount;
    for (std::uint32_t k = 0; k < formatCount_; ++k) {
      const FormatTrack& f = formats_[k];
      if (!IsAacCodec(f.codec) || !f.format.found || otherProgrammes(f.pid) || !IsMpegAudioStreamId(f.streamId)) {
        continue;
      }
      if (mpegGroup >= kMaxMpegAudioTracks) {
        noteOverLimit(f.pid, true);
        continue;
      }
      ++mpegGroup;
      Track track{f.pid, f.streamId, f.codec};
      describeFromPmt(track);
      addRow(AacLabel(f.pid, DescribeAudioFormat(f.codec, f.format), TrackNote(track)));
      addChoice(f.pid);
      summary_.aacAudio[tracks_.audioCount] = f.format;
      tracks_.addAudio(track);
    }
    for (std::uint32_t j = 0; j < privateCount_; ++j) {
      const std::uint32_t pid = private_[j].pid;
      if (!private_[j].probeDone || otherProgrammes(pid)) continue;
      const Codec c = declaredCodec(pid);
      if (c != Codec::None && !IsAc3Family(c) && c != Codec::TrueHd) continue;
      if (private_[j].result.sampleRate != 48000) continue;  // named with the reason
      Track track{pid, private_[j].streamId, private_[j].result.isEac3 ? Codec::Eac3 : Codec::Ac3};
      describeFromPmt(track);
      addRow(Ac3Label(pid, private_[j].result, TrackNote(track), c == Codec::TrueHd));
      addChoice(pid);
      summary_.privateAudio[tracks_.audioCount] = private_[j].result;
      tracks_.addAudio(track);
    }
    nameNotCarried();
    const std::uint32_t kept = tracks_.audioCount;
    if (kept == 0) {
      // The video alone can still be converted: the row selects it.
      addRow(LoadString(StringId::NoSupportedAudioTrack).data());
      addChoice(kAllTracks);
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
