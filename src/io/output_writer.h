#pragma once
// The output file, written by a writer thread from two 1 MiB buffers while
// the conversion thread fills the other one. Every write but the last is
// exactly 1 MiB; the last is padded with zeros to a multiple of 512 bytes, so
// the file length is a multiple of 512, unless the output asks to end at its
// last byte (a transport stream must end with a whole packet): then the
// padding is cut off again. The file is opened for direct (unbuffered) I/O
// where the file system accepts it. The calls on the file itself are the
// system's (output_writer_posix.cpp, output_writer_win.cpp).
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "common/ui_port.h"
#include "io/file_identity.h"
#include "io/packet_sink.h"

namespace kelvor {

struct OutputOptions {
  // The file ends at the last byte appended, not padded to 512 bytes.
  bool exactLength = false;
  // The file that must not be overwritten (the input): an output path that
  // names it is refused before anything in it changes.
  std::optional<FileIdentity> keep;
  // The file must not exist yet: it is created exclusively, so that of two
  // runs that chose the same new name only one writes it; the other fails
  // with kCreatedMeanwhile.
  bool mustBeNew = false;
  // A regular file that exists is replaced only while it is empty (another
  // run may have written it since it was checked): else kCreatedMeanwhile.
  bool mustBeEmpty = false;
};

class OutputWriter final : public PacketSink {
 public:
  static constexpr std::uint32_t kBufferSize = 1u << 20;
  static constexpr std::uint32_t kTailAlignment = 512;

  // Allocates both buffers, page-aligned; nothing is allocated later.
  explicit OutputWriter(UiPort& ui);
  ~OutputWriter() override;
  OutputWriter(const OutputWriter&) = delete;
  OutputWriter& operator=(const OutputWriter&) = delete;

  // Creates (or replaces) the file and starts the writer thread. False when
  // the file cannot be created or is the file to keep (lastError() says
  // why); the caller reports that.
  [[nodiscard]] bool OpenOutput(const std::string& path, const OutputOptions& options = {});
  // errno of the last failure to open or write (EEXIST: the file to keep;
  // kCreatedMeanwhile, kInUse: another run has the file).
  int lastError() const { return lastError_.load(); }

  // Copies one packet (at most kBufferSize bytes). False once the output has
  // failed or is closed; nothing is copied then.
  [[nodiscard]] bool AppendPacket(std::span<const std::uint8_t> packet) override;
  // Kept until CloseOutput, which writes it over the file's first bytes
  // after everything else. False for an output that is not a regular file.
  bool RewriteHead(std::span<const std::uint8_t> head) override;

  // Writes the rest, stops the thread and closes the file. False when the
  // output had failed (already reported) or the close failed.
  [[nodiscard]] bool CloseOutput();

  bool isOpen() const { return file_ != kNoFile; }
  // The open output has failed (the failure is already reported); the
  // conversion ends with an output error, not as if the user had stopped.
  bool HasFailed() const { return isOpen() && outputFailed_.load(); }
  // The file is written with direct I/O (false after a fallback).
  bool usesDirectIo() const { return direct_.load(); }

 private:
  struct FreeAligned {
    void operator()(std::uint8_t* p) const;
  };
  using Buffer = std::unique_ptr<std::uint8_t, FreeAligned>;

  // Bits of handoff_: buffer A full, buffer B full, stop requested.
  static constexpr std::uint32_t kFull[2] = {1u, 2u};
  static constexpr std::uint32_t kStop = 4u;

  static constexpr std::intptr_t kNoFile = -1;

  // The system's side: allocation of a buffer aligned for direct I/O,
  // creating the file (sets file_ and direct_, or lastError_; `regular` is
  // false for a pipe or a device) and closing it (false when the close
  // failed).
  static std::uint8_t* AllocateBuffer(std::size_t size);
  bool CreateOutputFile(const std::string& path, const OutputOptions& options, bool& regular);
  bool CloseFile();

  // Sleeps until handoff_ may differ from `seen` (it may wake early), and
  // wakes every thread sleeping so: the system's wait on an address.
  void WaitForHandoff(std::uint32_t seen);
  void AnnounceHandoff();

  void WriterThread();
  void RaiseWriterPriority();
  // Writes n bytes of `data`; false on any failure or short write.
  bool WriteFully(const std::uint8_t* data, std::uint32_t n);
  void ReportWriteFailure();
  // Cuts the zeros written after the last byte; false on failure.
  bool CutPadding(std::uint32_t padding);
  // Writes the kept head at the start of the file (ordinary, not direct,
  // I/O); false on failure.
  bool WriteHeadAtStart();
  void WaitWhileFull(std::uint32_t bit);
  void StopThread();

  UiPort& ui_;
  Buffer buffers_[2];
  // A descriptor, or a Windows HANDLE; the writer thread may swap it for
  // one without direct I/O.
  std::atomic<std::intptr_t> file_{kNoFile};
  std::atomic<bool> direct_{false};
  std::atomic<int> lastError_{0};
  bool exactLength_ = false;
  bool regular_ = false;
  std::thread writer_;

  std::atomic<std::uint32_t> handoff_{0};
  std::atomic<bool> outputFailed_{true};

  // Conversion thread only.
  std::uint32_t currentBuffer_ = 0;
  std::uint32_t fillCount_ = 0;
  bool bufferHandedOver_ = false;  // the file's first bytes have left the buffers
  std::array<std::uint8_t, kMaxHeadRewrite> head_{};
  // The file's first bytes as they left the buffers, so that a head can go
  // back as whole sectors where the handle takes only those (direct I/O).
  std::array<std::uint8_t, kMaxHeadRewrite> firstBytes_{};
  std::uint32_t headSize_ = 0;
};

}  // namespace kelvor
