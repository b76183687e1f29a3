#include "io/output_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "common/show_message.h"

namespace kelvor {

OutputWriter::OutputWriter(UiPort& ui) : ui_(ui) {
  buffers_[0].reset(AllocateBuffer(kBufferSize));
  buffers_[1].reset(AllocateBuffer(kBufferSize));
}

OutputWriter::~OutputWriter() {
  // An output that was never closed is abandoned without messages.
  if (isOpen()) {
    outputFailed_ = true;
    StopThread();
    (void)CloseFile();
  }
}

bool OutputWriter::OpenOutput(const std::string& path, const OutputOptions& options) {
  if (isOpen()) {
    outputFailed_ = true;
    StopThread();
    (void)CloseFile();
  }
  bool regular = false;
  if (!CreateOutputFile(path, options, regular)) return false;

  exactLength_ = options.exactLength || !regular;
  regular_ = regular;
  bufferHandedOver_ = false;
  headSize_ = 0;
  lastError_ = 0;
  handoff_ = 0;
  currentBuffer_ = 0;
  fillCount_ = 0;
  outputFailed_ = false;
  try {
    writer_ = std::thread([this] { WriterThread(); });
  } catch (const std::system_error& e) {
    // The caller names the reason (no thread to write with).
    lastError_ = e.code().value() != 0 ? e.code().value() : EAGAIN;
    outputFailed_ = true;
    (void)CloseFile();
    return false;
  }
  return true;
}

bool OutputWriter::AppendPacket(std::span<const std::uint8_t> packet) {
  if (outputFailed_.load()) return false;
  while (!packet.empty()) {
    const std::uint32_t room = kBufferSize - fillCount_;
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(packet.size(), room));
    std::memcpy(buffers_[currentBuffer_].get() + fillCount_, packet.data(), n);
    fillCount_ += n;
    packet = packet.subspan(n);
    if (fillCount_ < kBufferSize) break;

    // The buffer is complete: hand it over and wait until the other one is
    // free. A failed writer frees buffers at once, so this never hangs.
    handoff_.fetch_or(kFull[currentBuffer_]);
    if (!bufferHandedOver_) std::memcpy(firstBytes_.data(), buffers_[currentBuffer_].get(), firstBytes_.size());
    AnnounceHandoff();
    bufferHandedOver_ = true;
    currentBuffer_ ^= 1;
    WaitWhileFull(kFull[currentBuffer_]);
    fillCount_ = 0;
    if (outputFailed_.load()) return false;
  }
  return true;
}

bool OutputWriter::RewriteHead(std::span<const std::uint8_t> head) {
  if (!isOpen() || !regular_ || outputFailed_.load() || head.size() > head_.size()) return false;
  std::memcpy(head_.data(), head.data(), head.size());
  headSize_ = static_cast<std::uint32_t>(head.size());
  return true;
}

bool OutputWriter::CloseOutput() {
  if (!isOpen()) return false;
  // A head still in the buffer is changed there; one already written goes
  // back to the file's start last.
  if (headSize_ > 0 && !bufferHandedOver_) {
    std::memcpy(buffers_[currentBuffer_].get(), head_.data(), std::min(headSize_, fillCount_));
    headSize_ = 0;
  }
  const std::uint32_t padded = (fillCount_ + kTailAlignment - 1) & ~(kTailAlignment - 1);
  std::uint8_t* tail = buffers_[currentBuffer_].get();
  std::memset(tail + fillCount_, 0, padded - fillCount_);

  // The writer finishes the other buffer first, then the tail is written
  // from this thread: padded where direct I/O needs whole sectors, and then
  // cut back to the last byte where the file must end there.
  WaitWhileFull(kFull[currentBuffer_ ^ 1]);
  if (!outputFailed_.load()) {
    const bool pad = direct_.load() || !exactLength_;
    const std::uint32_t n = pad ? padded : fillCount_;
    if (n > 0 && !WriteFully(tail, n)) {
      ReportWriteFailure();
    } else if (exactLength_ && n != fillCount_ && !CutPadding(padded - fillCount_)) {
      ReportWriteFailure();
    } else if (headSize_ > 0 && !WriteHeadAtStart()) {
      ReportWriteFailure();
    }
  }

  StopThread();
  const bool closed = CloseFile();
  fillCount_ = 0;
  if (outputFailed_.exchange(true)) return false;
  if (!closed) {
    ShowMessage(ui_, StringId::OutputCloseError);
    return false;
  }
  return true;
}

void OutputWriter::WriterThread() {
  RaiseWriterPriority();
  for (std::uint32_t b = 0;; b ^= 1) {
    std::uint32_t state = handoff_.load();
    while ((state & (kFull[b] | kStop)) == 0) {
      WaitForHandoff(state);
      state = handoff_.load();
    }
    if ((state & kStop) != 0) return;
    if (!WriteFully(buffers_[b].get(), kBufferSize)) break;
    handoff_.fetch_and(~kFull[b]);
    AnnounceHandoff();
  }

  // Failure: release the conversion thread, then drop every buffer handed
  // over until the output is closed.
  ReportWriteFailure();
  for (;;) {
    std::uint32_t state = handoff_.load();
    while ((state & (kFull[0] | kFull[1] | kStop)) == 0) {
      WaitForHandoff(state);
      state = handoff_.load();
    }
    if ((state & kStop) != 0) return;
    handoff_.fetch_and(~(kFull[0] | kFull[1]));
    AnnounceHandoff();
  }
}

void OutputWriter::ReportWriteFailure() {
  outputFailed_ = true;
  handoff_.fetch_and(~(kFull[0] | kFull[1]));
  AnnounceHandoff();
  ShowMessage(ui_, StringId::OutputWriteError);
}

void OutputWriter::WaitWhileFull(std::uint32_t bit) {
  std::uint32_t state = handoff_.load();
  while ((state & bit) != 0) {
    WaitForHandoff(state);
    state = handoff_.load();
  }
}

void OutputWriter::StopThread() {
  handoff_.fetch_or(kStop);
  AnnounceHandoff();
  if (writer_.joinable()) writer_.join();
}

}  // namespace kelvor
